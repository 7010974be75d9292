// Glass-to-glass latency of cells rendered in the page, read from what the page shows: the local RTSP
// test stream's frame strip carries the wall clock at which each frame left for the encoder; headless
// Chromium draws every presented frame of the cell's <video> into a 2D canvas (requestVideoFrameCallback)
// and reads the clock back; the same with the page's own decoder (WebCodecs), read from the cell's
// <canvas> as each decoded frame is drawn into it (it reaches the screen with the next paint). Also the
// service's CPU (the player decodes its cell as well) and, from eight more viewers of the same cell, the
// share of one page stream's remuxing alone, from /proc. In the same run:
//
// - the native cell as the reference, read from the screen: with DISPLAY set (Xvfb and a window manager,
//   as tests/e2e/first-run.test.mjs runs them), a service on that display places its window over a
//   Chromium page there and tests/e2e/x11_screen_grab reads the strip where the cell is, a few hundred
//   times a second; the page's two decoders are read the same way beside it. Without a display it says so.
// - 16 page streams at once: 16 cells of one page, at 640 x 360, and at 1920 x 1080 when every cell kept
//   the frame rate at 640 x 360; with how often the service dropped a viewer to a key frame (its log line)
//   and how often the page's cells caught up by themselves (PageView.catchUpsOf).
// - --drift MINUTES: one WebCodecs and one MediaSource page stream for that long, the median of the first
//   minute against that of the last. It runs last.
//
//   cd tests/e2e && LS_SERVICE_BINARY=../../build/LocalService node ../../bench/page_stream/page-latency.mjs [seconds] [--drift MINUTES]
//
// Prints one JSON line per row; each carries the one-minute load average when it ended (the machine is shared).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import { fileURLToPath } from 'node:url';
import { chromium } from '../../tests/e2e/node_modules/playwright-core/index.mjs';
import WebSocket from '../../tests/e2e/node_modules/ws/wrapper.mjs';
import { startPageServer } from '../../tests/e2e/page-server.mjs';
import { startRtsp } from '../../tests/e2e/rtsp-stream.mjs';
import { startService } from '../../tests/e2e/service-process.mjs';

const options = { seconds: 20, driftMinutes: 0 };
for (let i = 2; i < process.argv.length; ++i) {
    if (process.argv[i] === '--drift')
        options.driftMinutes = Number(process.argv[++i]);
    else
        options.seconds = Number(process.argv[i]);
}
if (!(options.seconds > 0) || !(options.driftMinutes >= 0))
    throw new Error('usage: page-latency.mjs [seconds] [--drift MINUTES]');
const { seconds } = options;
const FPS = 25;
const SIZES = [[640, 360], [1920, 1080]];
const grabber = process.env.LS_SCREEN_GRAB || fileURLToPath(new URL('../../build/x11_screen_grab', import.meta.url));
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const BROWSER_ARGS = ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'];

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const quantile = (values, q) => {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))] : NaN;
};
const cpuSeconds = (pid) => {
    const fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').split(') ')[1].split(' ');
    return (Number(fields[11]) + Number(fields[12])) / 100; // utime and stime, in clock ticks of 10 ms
};
const load = () => Number(os.loadavg()[0].toFixed(2));
/** How often the service dropped a viewer to the next key frame, from its log. */
const dropsIn = (service) => service.log().split('page stream behind').length - 1;

/** The strip's clock and frame index, read from one row of RGB(A) pixels across the picture. */
function readStrip(row, stride, width) {
    const block = width / 32;
    let value = 0;
    for (let bit = 0; bit < 32; ++bit)
        value += (row[stride * Math.floor((bit + 0.5) * block)] > 128 ? 1 : 0) * 2 ** bit;
    return { index: value % 65536, clock: Math.floor(value / 65536) };
}

/**
 * A page whose cells play url in the page (decoder as named; the library's default when undefined) and
 * record, for every frame each cell shows, [wall ms, latency ms, cell] in window.samples. Resolves to the
 * decoder the view chose.
 */
async function playInPage(page, { port, url, decoder, cells = 1, element }) {
    return page.evaluate(async ({ port, url, decoder, cells, element, readStripSource }) => {
        const readStrip = eval(`(${readStripSource})`); // eslint-disable-line no-eval
        const { connect } = await import('/web/client/src/index.js');
        const target = document.getElementById('video');
        if (element)
            Object.assign(target.style, { width: `${element.width}px`, height: `${element.height}px`, left: '0px', top: '0px' });
        const session = await connect({ ports: [port] });
        window.benchSession = session;
        const view = await session.attach(target, { render: 'page', ...(decoder ? { decoder } : {}) });
        window.benchView = view;
        if (cells > 1)
            await session.command('video.arrangeWindow', { windowNum: cells });
        for (let cell = 0; cell < cells; ++cell)
            await session.command('video.startPlay', { wndIndex: cell, url });
        const canvas = document.createElement('canvas');
        const context = canvas.getContext('2d', { willReadFrequently: true });
        window.samples = [];
        // The clock in the strip (blocks 16-31) of what the cell shows, as it shows it.
        // Only the strip's row is copied, so that reading costs the page little at any size.
        const read = (source, width, height, cell) => {
            const now = Date.now();
            canvas.width = width;
            canvas.height = 1;
            context.drawImage(source, 0, Math.floor(height / 20), width, 1, 0, 0, width, 1);
            const { clock } = readStrip(context.getImageData(0, 0, width, 1).data, 4, width);
            window.samples.push([now, (now - clock + 65536) % 65536, cell]);
        };
        for (let cell = 0; cell < cells; ++cell) {
            const box = document.querySelector(`#video [data-wnd-index="${cell}"]`);
            const drawn = box.querySelector('canvas');
            if (drawn) {
                drawn.addEventListener('frame', () => read(drawn, drawn.width, drawn.height, cell));
            } else {
                const video = box.querySelector('video');
                const onFrame = () => {
                    read(video, video.videoWidth, video.videoHeight, cell);
                    video.requestVideoFrameCallback(onFrame);
                };
                video.requestVideoFrameCallback(onFrame);
            }
        }
        return view.decoder;
    }, { port, url, decoder, cells, element, readStripSource: readStrip.toString() });
}

/** How often the page's cells caught up by themselves so far, over all cells (see PageView.catchUpsOf). */
const pageCatchUps = (page) => page.evaluate(() => {
    const sum = { keyFrameDrops: 0, liveEdgeJumps: 0 };
    window.benchView.cells.forEach((_, index) => {
        const counts = window.benchView.catchUpsOf(index);
        sum.keyFrameDrops += counts.keyFrameDrops;
        sum.liveEdgeJumps += counts.liveEdgeJumps;
    });
    return sum;
});
const catchUpsSince = (before, after) => ({ pageKeyFrameDrops: after.keyFrameDrops - before.keyFrameDrops,
    pageLiveEdgeJumps: after.liveEdgeJumps - before.liveEdgeJumps });

const takeSamples = (page) => page.evaluate(() => {
    const taken = window.samples;
    window.samples = [];
    return taken;
});

/** The latency figures of samples: frames, p50, p90, and per cell the frame rate (mean and lowest). */
function figuresOf(samples, cells, spanSeconds) {
    const latencies = samples.map(([, latency]) => latency);
    const perCell = Array.from({ length: cells }, (_, cell) => samples.filter(([, , c]) => c === cell).length / spanSeconds);
    return { frames: samples.length, p50ms: quantile(latencies, 0.5), p90ms: quantile(latencies, 0.9),
        ...(cells > 1 ? { fpsPerCellMean: Number((perCell.reduce((a, b) => a + b, 0) / cells).toFixed(1)),
            fpsPerCellLowest: Number(Math.min(...perCell).toFixed(1)) } : {}) };
}

/** Page cells in headless Chromium, per size and decoder, with the remux's own cost. */
async function pageRows(service, browser, pages) {
    for (const [width, height] of SIZES) {
        const rtsp = await startRtsp({ width, height, fps: FPS });
        if (!rtsp)
            throw new Error('no GStreamer RTSP server');
        for (const decoder of ['mediasource', 'webcodecs']) {
            const page = await browser.newPage({ viewport: { width: 1000, height: 700 } });
            await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
            const mode = await playInPage(page, { port: service.port, url: rtsp.url, decoder });
            // The first seconds (connecting, the first key frame) are left out.
            await sleep(3000);
            await takeSamples(page);
            const cpuBefore = cpuSeconds(service.child.pid);
            const dropsBefore = dropsIn(service);
            const catchUpsBefore = await pageCatchUps(page);
            await sleep(seconds * 1000);
            const cpu = (cpuSeconds(service.child.pid) - cpuBefore) / seconds;
            const samples = await takeSamples(page);
            const { frames, p50ms, p90ms } = figuresOf(samples, 1, seconds);
            const figures = { size: `${width}x${height}`, mode, read: 'page', frames, pageP50ms: p50ms, pageP90ms: p90ms,
                serviceCpuShareOfACore: Number(cpu.toFixed(3)), serviceDropsToKeyFrame: dropsIn(service) - dropsBefore,
                ...catchUpsSince(catchUpsBefore, await pageCatchUps(page)) };
            if (decoder === 'mediasource') {
                // The remux alone: the same cell to EXTRA more viewers, the service's CPU with them less without.
                const EXTRA = 8;
                const uuid = await page.evaluate(() => window.benchSession.uuid);
                const viewers = Array.from({ length: EXTRA }, () => new WebSocket(
                    `ws://127.0.0.1:${service.port}/stream?uuid=${encodeURIComponent(uuid)}&wndIndex=0`, { origin: pages.origin }));
                await sleep(3000);
                const extraBefore = cpuSeconds(service.child.pid);
                await sleep(seconds * 1000);
                figures.remuxCpuShareOfACorePerStream = Number((((cpuSeconds(service.child.pid) - extraBefore) / seconds - cpu) / EXTRA).toFixed(4));
                viewers.forEach((viewer) => viewer.close());
            }
            console.log(JSON.stringify({ ...figures, load1: load() }));
            await page.evaluate(() => window.benchSession.close());
            await page.close();
        }
        rtsp.stop();
    }
}

/** A rectangle of the screen as RGB rows. */
function grabOnce(display, area) {
    return new Promise((resolve, reject) => {
        const child = spawn(grabber, [area.left, area.top, area.width, area.height].map(String),
            { env: { ...process.env, DISPLAY: display } });
        const chunks = [];
        child.stdout.on('data', (chunk) => chunks.push(chunk));
        child.once('error', reject);
        child.once('close', (code) => {
            const bytes = Buffer.concat(chunks);
            const header = /^P6\n(\d+) (\d+)\n255\n/.exec(bytes.subarray(0, 40).toString('latin1'));
            if (code !== 0 || !header)
                reject(new Error(`the screen could not be read (${code})`));
            else
                resolve({ ...area, pixels: bytes.subarray(header[0].length) });
        });
    });
}

/** The screen rectangle of the pixels of a grab that match. */
function boxOf(image, matches) {
    let left = Infinity, top = Infinity, right = -Infinity, bottom = -Infinity;
    for (let y = 0; y < image.height; ++y) {
        for (let x = 0; x < image.width; ++x) {
            if (!matches(image.pixels, (y * image.width + x) * 3))
                continue;
            left = Math.min(left, x); right = Math.max(right, x);
            top = Math.min(top, y); bottom = Math.max(bottom, y);
        }
    }
    return right >= left ? { left: image.left + left, top: image.top + top, width: right - left + 1, height: bottom - top + 1 } : undefined;
}

const near = (pixels, at, colour, slack) => [0, 1, 2].every((c) => Math.abs(pixels[at + c] - colour[c]) <= slack);
const MARKER = [0x00, 0xe0, 0xe0];
const isMarker = (pixels, at) => near(pixels, at, MARKER, 24);
// The test stream's grey below the strip (Y 128), as any of the renderers paints it.
const isPictureGrey = (pixels, at) => near(pixels, at, [130, 130, 130], 18);

/**
 * The screen row through the middle of the strip of the picture inside area: the rows of the grey below
 * the strip (a strip row has grey only where its blocks' edges blur) give the picture's width and the
 * strip's lower edge; the strip is a tenth of the picture's height.
 */
async function stripRow(display, area) {
    for (const started = Date.now(); Date.now() - started < 30000; await sleep(300)) {
        const image = await grabOnce(display, area);
        const greyIn = (y) => [...Array(image.width).keys()].filter((x) => isPictureGrey(image.pixels, (y * image.width + x) * 3));
        const counts = [...Array(image.height).keys()].map((y) => greyIn(y).length);
        const most = Math.max(...counts);
        if (most < 64)
            continue;
        const rows = counts.map((count, y) => (count >= 0.9 * most ? y : -1)).filter((y) => y >= 0);
        const [top, bottom] = [rows[0], rows.at(-1)];
        const across = greyIn(Math.round((top + bottom) / 2));
        const stripHeight = (bottom - top + 1) / 9;
        const row = { left: image.left + across[0], top: image.top + Math.round(top - stripHeight / 2),
            width: across.at(-1) - across[0] + 1, height: 1 };
        // The strip is there when it has black and white blocks.
        const { pixels } = await grabOnce(display, row);
        const dark = [...Array(row.width).keys()].filter((x) => pixels[3 * x] < 64).length;
        if (dark > 0 && dark < row.width)
            return row;
    }
    throw new Error('no picture with a strip on the screen');
}

/**
 * Reads the strip from the screen for ms: each frame where it first appears, its latency (when the grab
 * saw it, less the clock it carries), as [wall ms, latency ms, 0].
 */
function watchStrip(display, row, ms) {
    return new Promise((resolve, reject) => {
        const child = spawn(grabber, ['--repeat', String(ms), row.left, row.top, row.width, 1].map(String),
            { env: { ...process.env, DISPLAY: display } });
        const chunks = [];
        child.stdout.on('data', (chunk) => chunks.push(chunk));
        child.once('error', reject);
        child.once('close', () => {
            const bytes = Buffer.concat(chunks);
            const samples = [];
            let previous = -1;
            for (let at = 0; at < bytes.length;) {
                const header = /^T (\d+)\nP6\n(\d+) (\d+)\n255\n/.exec(bytes.subarray(at, at + 64).toString('latin1'));
                if (!header)
                    break;
                const [text, time, width, height] = header;
                const size = Number(width) * Number(height) * 3;
                const { index, clock } = readStrip(bytes.subarray(at + text.length, at + text.length + size), 3, Number(width));
                at += text.length + size;
                if (index === previous)
                    continue;
                previous = index;
                const now = Number(time);
                samples.push([now, (now - clock + 65536) % 65536, 0]);
            }
            resolve(samples);
        });
    });
}

/**
 * The native cell and the page's two decoders, read the same way from the screen of DISPLAY: a service
 * on that display, Chromium with a window there, one cell over the test page's element.
 */
async function screenRows(pages) {
    const display = process.env.DISPLAY;
    if (!display || !fs.existsSync(grabber)) {
        console.log(JSON.stringify({ mode: 'native', read: 'screen',
            skipped: `the native reference needs a display: set DISPLAY (Xvfb with a window manager) and build ${grabber}` }));
        return;
    }
    const service = await startService({ platform: 'xcb', env: { DISPLAY: display } });
    const browser = await chromium.launch({ executablePath: chromiumPath, headless: false,
        env: { ...process.env, DISPLAY: display },
        args: [...BROWSER_ARGS, '--force-device-scale-factor=1', '--window-position=0,0', '--window-size=1000,800'] });
    try {
        for (const [width, height] of SIZES) {
            const rtsp = await startRtsp({ width, height, fps: FPS });
            for (const mode of ['native', 'webcodecs', 'mediasource']) {
                const page = await browser.newPage({ viewport: null });
                await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
                await page.addStyleTag({ content: `#video { background: rgb(${MARKER}) !important; }` });
                const screenSize = await page.evaluate(() => ({ width: screen.width, height: screen.height }));
                let element;
                for (const started = Date.now(); !element && Date.now() - started < 20000; await sleep(200))
                    element = boxOf(await grabOnce(display, { left: 0, top: 0, ...screenSize }), isMarker);
                if (!element)
                    throw new Error('the test page\'s element is not on the screen');
                if (mode === 'native') {
                    await page.evaluate(async ({ port, url }) => {
                        const { connect } = await import('/web/client/src/index.js');
                        const session = await connect({ ports: [port] });
                        window.benchSession = session;
                        await session.attach(document.getElementById('video'), { render: 'native' });
                        await session.command('video.startPlay', { wndIndex: 0, url });
                    }, { port: service.port, url: rtsp.url });
                } else {
                    await playInPage(page, { port: service.port, url: rtsp.url, decoder: mode });
                }
                const row = await stripRow(display, element);
                await sleep(3000);
                const cpuBefore = cpuSeconds(service.child.pid);
                const samples = await watchStrip(display, row, seconds * 1000);
                const cpu = (cpuSeconds(service.child.pid) - cpuBefore) / seconds;
                const { frames, p50ms, p90ms } = figuresOf(samples, 1, seconds);
                console.log(JSON.stringify({ size: `${width}x${height}`, mode, read: 'screen', frames, screenP50ms: p50ms,
                    screenP90ms: p90ms, serviceCpuShareOfACore: Number(cpu.toFixed(3)), load1: load() }));
                await page.evaluate(() => window.benchSession.close());
                await page.close();
            }
            rtsp.stop();
        }
    } finally {
        await browser.close();
        service.stop();
    }
}

/** CELLS cells of one page streamed at once, per size while the machine keeps the frame rate. */
async function manyStreamsRows(service, browser, pages) {
    const CELLS = 16;
    for (const [width, height] of SIZES) {
        const rtsp = await startRtsp({ width, height, fps: FPS });
        const page = await browser.newPage({ viewport: { width: 1300, height: 760 } });
        await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
        const mode = await playInPage(page, { port: service.port, url: rtsp.url, cells: CELLS, element: { width: 1280, height: 720 } });
        await sleep(5000);
        await takeSamples(page);
        const cpuBefore = cpuSeconds(service.child.pid);
        const dropsBefore = dropsIn(service);
        const catchUpsBefore = await pageCatchUps(page);
        await sleep(seconds * 1000);
        const cpu = (cpuSeconds(service.child.pid) - cpuBefore) / seconds;
        const figures = figuresOf(await takeSamples(page), CELLS, seconds);
        console.log(JSON.stringify({ size: `${width}x${height}`, mode, streams: CELLS, read: 'page', ...figures,
            serviceCpuShareOfACore: Number(cpu.toFixed(3)), serviceDropsToKeyFrame: dropsIn(service) - dropsBefore,
            ...catchUpsSince(catchUpsBefore, await pageCatchUps(page)), load1: load() }));
        await page.evaluate(() => window.benchSession.close());
        await page.close();
        rtsp.stop();
        if (figures.fpsPerCellLowest < 0.9 * FPS) {
            console.log(JSON.stringify({ streams: CELLS, skipped: `larger sizes: a cell fell to ${figures.fpsPerCellLowest} frames/s at ${width}x${height}` }));
            break;
        }
    }
}

/** One WebCodecs and one MediaSource page stream for minutes: the median of the first minute and of the last. */
async function driftRows(service, browser, pages, minutes) {
    const [width, height] = SIZES[0];
    const rtsp = await startRtsp({ width, height, fps: FPS });
    const started = [];
    for (const decoder of ['webcodecs', 'mediasource']) {
        const page = await browser.newPage({ viewport: { width: 1000, height: 700 } });
        await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
        started.push({ page, decoder, mode: await playInPage(page, { port: service.port, url: rtsp.url, decoder }) });
    }
    await sleep(3000);
    const samples = new Map(started.map(({ decoder }) => [decoder, []]));
    for (const stream of started) {
        await takeSamples(stream.page);
        stream.catchUpsBefore = await pageCatchUps(stream.page);
    }
    const dropsBefore = dropsIn(service);
    const begin = Date.now();
    // Collected every few seconds so that the pages hold little.
    while (Date.now() - begin < minutes * 60000) {
        await sleep(5000);
        for (const { page, decoder } of started)
            samples.get(decoder).push(...await takeSamples(page));
    }
    const end = Date.now();
    for (const { page, decoder, mode, catchUpsBefore } of started) {
        const all = samples.get(decoder);
        const within = (from, to) => all.filter(([time]) => time >= from && time < to).map(([, latency]) => latency);
        const first = quantile(within(begin, begin + 60000), 0.5);
        const last = quantile(within(end - 60000, end + 1), 0.5);
        console.log(JSON.stringify({ size: `${width}x${height}`, mode, drift: `${minutes} min`, frames: all.length,
            firstMinuteP50ms: first, lastMinuteP50ms: last, driftMs: last - first, within20ms: Math.abs(last - first) <= 20,
            overallP90ms: quantile(all.map(([, latency]) => latency), 0.9),
            ...catchUpsSince(catchUpsBefore, await pageCatchUps(page)), load1: load() }));
        await page.evaluate(() => window.benchSession.close());
        await page.close();
    }
    console.log(JSON.stringify({ drift: `${minutes} min`, serviceDropsToKeyFrame: dropsIn(service) - dropsBefore }));
    rtsp.stop();
}

const service = await startService();
const pages = await startPageServer();
const browser = await chromium.launch({ executablePath: chromiumPath, args: BROWSER_ARGS });
try {
    console.log(JSON.stringify({ secondsPerRow: seconds, driftMinutes: options.driftMinutes, cores: os.cpus().length, load1: load() }));
    await pageRows(service, browser, pages);
    await screenRows(pages);
    await manyStreamsRows(service, browser, pages);
    if (options.driftMinutes > 0)
        await driftRows(service, browser, pages, options.driftMinutes);
} finally {
    await browser.close();
    pages.close();
    service.stop();
}
