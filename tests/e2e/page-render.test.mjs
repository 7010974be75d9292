// Cells rendered in the page, in Debian's headless Chromium against the real service (headless, so no
// browser window can be found): attach with render 'auto' falls back to the page, the layout becomes a
// grid of cells, a played cell shows the local RTSP stream (its frame strip, read from the cell's pixels,
// advances and stays near live), a click selects a cell and a double click takes it full screen with the
// native window's events, and a stopped cell's stream ends. By default the cells decode with WebCodecs
// into a <canvas> where Chromium has it, naming on their channels what its VideoDecoder decodes; with
// decoder 'mediasource', and where WebCodecs refuses a stream's codec, a <video> plays through MediaSource.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';
import { startPageServer } from './page-server.mjs';
import { startRtsp } from './rtsp-stream.mjs';
import { startService } from './service-process.mjs';

let service;
let pages;
let rtsp;
let browser;

before(async () => {
    service = await startService();
    pages = await startPageServer();
    rtsp = await startRtsp({ width: 320, height: 240 });
    browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'] });
});

after(async () => {
    await browser?.close();
    pages?.close();
    rtsp?.stop();
    service?.stop();
});

/** A test page with window.frameIndexOf(video or canvas): the frame index in the strip across the top of
 *  the picture (blocks 0-15, lowest bit first), -1 before there is a picture. */
async function openPage() {
    const page = await browser.newPage({ viewport: { width: 1000, height: 700 } });
    page.on('console', (message) => process.stderr.write(`page: ${message.text()}\n`));
    await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
    await page.evaluate(() => {
        const canvas = document.createElement('canvas');
        window.frameIndexOf = (video) => {
            const [width, height] = video.localName === 'canvas' ? [video.width, video.height]
                : video.readyState < 2 ? [0, 0] : [video.videoWidth, video.videoHeight];
            if (width === 0 || height === 0)
                return -1;
            canvas.width = width;
            canvas.height = height;
            const context = canvas.getContext('2d', { willReadFrequently: true });
            context.drawImage(video, 0, 0);
            const block = canvas.width / 32;
            const row = context.getImageData(0, Math.floor(canvas.height / 20), canvas.width, 1).data;
            let index = 0;
            for (let bit = 0; bit < 16; ++bit)
                index |= (row[4 * Math.floor((bit + 0.5) * block)] > 128 ? 1 : 0) << bit;
            return index;
        };
    });
    return page;
}

test("render 'auto' without a native window plays the cells in the page (decoder 'mediasource': <video> cells)", async (t) => {
    if (!rtsp)
        return t.skip('no GStreamer RTSP server');
    const page = await openPage();
    const result = await page.evaluate(async ({ port, url }) => {
        const { connect } = await import('/web/client/src/index.js');
        const session = await connect({ ports: [port] });
        const view = await session.attach(document.getElementById('video'), { render: 'auto', decoder: 'mediasource' });
        await session.command('video.arrangeWindow', { windowNum: 4 });
        await session.command('video.startPlay', { wndIndex: 3, url });
        const video = document.querySelectorAll('#video video')[3];

        const frameIndex = () => window.frameIndexOf(video);
        const seen = new Set();
        let behind = Infinity;
        for (const started = Date.now(); seen.size < 10 && Date.now() - started < 30000;) {
            await new Promise((resolve) => setTimeout(resolve, 100));
            const index = frameIndex();
            if (index >= 0)
                seen.add(index);
            if (video.buffered.length)
                behind = video.buffered.end(video.buffered.length - 1) - video.currentTime;
        }

        const selected = new Promise((resolve) => session.on('window.onGetSelectWndInfo', resolve));
        document.querySelectorAll('#video [data-wnd-index]')[1].click();
        const selection = await selected;

        window.fullScreenEvents = [];
        session.on('window.onFullScreenChange', (event) => window.fullScreenEvents.push(event.full));
        window.testSession = session;
        const grid = getComputedStyle(document.querySelector('#video > div')).gridTemplateColumns.split(' ').length;
        return { mode: view.mode, reason: view.reason, frames: [...seen], behind, selection, grid,
            cells: document.querySelectorAll('#video video').length };
    }, { port: service.port, url: rtsp.url });

    // A double click (a user's gesture) takes the cell full screen, and a second one brings it back.
    await page.dblclick('#video [data-wnd-index="2"]');
    await page.waitForFunction(() => window.fullScreenEvents.length === 1, null, { timeout: 10000 });
    const fullCell = await page.evaluate(() => document.fullscreenElement?.dataset.wndIndex);
    await page.dblclick('#video [data-wnd-index="2"]');
    await page.waitForFunction(() => window.fullScreenEvents.length === 2, null, { timeout: 10000 });

    const ended = await page.evaluate(async () => {
        const session = window.testSession;
        await session.command('video.stop', { wndIndex: 3 });
        const cleared = !document.querySelectorAll('#video video')[3].getAttribute('src');
        await session.close();
        return { cleared, fullScreenEvents: window.fullScreenEvents };
    });

    assert.equal(result.mode, 'page');
    assert.match(result.reason, /no browser window/);
    assert.deepEqual([result.cells, result.grid], [4, 2]);
    assert.ok(result.frames.length >= 10, `the strip did not advance: ${result.frames}`);
    assert.ok(result.behind < 1, `behind the live edge by ${result.behind} s`);
    assert.equal(result.selection.wndIndex, 1);
    assert.equal(fullCell, '2');
    assert.deepEqual(ended, { cleared: true, fullScreenEvents: [true, false] });
});

test("render 'page' plays an H.265 camera in a browser without its decoder: transcoded to H.264, and said so", async (t) => {
    const h265 = await startRtsp({ width: 320, height: 240, codec: 'h265' });
    if (!h265)
        return t.skip('no GStreamer H.265 RTSP server');
    t.after(() => h265.stop());
    const page = await openPage();
    const result = await page.evaluate(async ({ port, url }) => {
        const { connect, decodableCodecs } = await import('/web/client/src/index.js');
        const session = await connect({ ports: [port] });
        const transcoding = [];
        session.on('page.onStreamTranscoding', (event) => transcoding.push(event));
        const errors = [];
        session.on('error', (error) => errors.push(error.message));
        const view = await session.attach(document.getElementById('video'), { render: 'page', decoder: 'mediasource' });
        await session.command('video.startPlay', { wndIndex: 0, url });
        const video = document.querySelector('#video video');
        const seen = new Set();
        for (const started = Date.now(); (seen.size < 10 || !transcoding.some((event) => event.cpuPercent !== undefined))
            && Date.now() - started < 30000;) {
            await new Promise((resolve) => setTimeout(resolve, 100));
            const index = window.frameIndexOf(video);
            if (index >= 0)
                seen.add(index);
        }
        await session.close();
        return { mode: view.mode, codecs: decodableCodecs(window), frames: [...seen], transcoding, errors };
    }, { port: service.port, url: h265.url });

    assert.equal(result.mode, 'page');
    if (result.codecs.includes('hvc1'))
        return t.skip('this Chromium decodes H.265 itself');
    assert.deepEqual(result.errors, []);
    assert.ok(result.frames.length >= 10, `the strip did not advance: ${result.frames}`);
    assert.equal(result.transcoding[0].wndIndex, 0);
    assert.match(result.transcoding[0].from, /^hvc1\./);
    assert.ok(result.transcoding.some((event) => event.cpuPercent > 0), JSON.stringify(result.transcoding));
});

/** Records the URLs of the stream channels the page opens, in window.streamUrls. */
const recordStreamChannels = () => {
    window.streamUrls = [];
    const Native = window.WebSocket;
    window.WebSocket = class extends Native {
        constructor(url, ...rest) {
            super(url, ...rest);
            if (String(url).includes('/stream?'))
                window.streamUrls.push(String(url));
        }
    };
};

// The user's default (render 'auto', no decoder named) and decoder 'webcodecs' named.
for (const options of [{ render: 'auto' }, { render: 'page', decoder: 'webcodecs' }]) {
    test(`attach ${JSON.stringify(options)} decodes the frames in the page into a <canvas>, naming the codecs VideoDecoder decodes`, async (t) => {
        if (!rtsp)
            return t.skip('no GStreamer RTSP server');
        const page = await openPage();
        await page.evaluate(recordStreamChannels);
        const result = await page.evaluate(async ({ port, url, options }) => {
            const { connect, hasVideoDecoder } = await import('/web/client/src/index.js');
            if (!hasVideoDecoder(window))
                return { skipped: true };
            // What this Chromium's decoder says of the two codec families, asked here on its own.
            const supported = [];
            for (const [family, codec] of [['avc1', 'avc1.42E01E'], ['hvc1', 'hvc1.1.6.L93.B0']]) {
                if ((await VideoDecoder.isConfigSupported({ codec, optimizeForLatency: true })).supported)
                    supported.push(family);
            }
            const session = await connect({ ports: [port] });
            const view = await session.attach(document.getElementById('video'), options);
            await session.command('video.startPlay', { wndIndex: 0, url });
            const canvas = document.querySelector('#video [data-wnd-index="0"] canvas');
            let drawn = 0;
            canvas.addEventListener('frame', () => ++drawn);
            const seen = new Set();
            for (const started = Date.now(); seen.size < 10 && Date.now() - started < 30000;) {
                await new Promise((resolve) => setTimeout(resolve, 100));
                const index = window.frameIndexOf(canvas);
                if (index >= 0)
                    seen.add(index);
            }
            await session.close();
            const named = window.streamUrls.map((address) => new URL(address).searchParams.get('codecs'));
            return { frames: [...seen], drawn, videos: document.querySelectorAll('#video video').length, supported,
                named, mode: view.mode, decoder: view.decoder, cellDecoder: view.decoderOf(0), viewCodecs: view.codecs };
        }, { port: service.port, url: rtsp.url, options });
        if (result.skipped)
            return t.skip('no WebCodecs in this browser');
        assert.ok(result.frames.length >= 10, `the strip did not advance: ${result.frames}`);
        assert.ok(result.drawn >= result.frames.length);
        assert.equal(result.videos, 0);
        assert.deepEqual([result.mode, result.decoder, result.cellDecoder], ['page', 'webcodecs', 'webcodecs']);
        assert.ok(result.supported.includes('avc1'), `Chromium's VideoDecoder: ${result.supported}`);
        assert.deepEqual(result.viewCodecs, result.supported);
        assert.deepEqual(result.named, [result.supported.join(',')]);
    });
}

test('a stream whose codec WebCodecs refuses plays in a <video> through MediaSource instead, with the same code', async (t) => {
    if (!rtsp)
        return t.skip('no GStreamer RTSP server');
    const page = await openPage();
    await page.evaluate(recordStreamChannels);
    const result = await page.evaluate(async ({ port, url }) => {
        const { connect, decodableCodecs, hasVideoDecoder } = await import('/web/client/src/index.js');
        if (!hasVideoDecoder(window))
            return { skipped: true };
        // A decoder that takes the probes (so the view chooses WebCodecs) but not the stream's own codec.
        const ask = VideoDecoder.isConfigSupported.bind(VideoDecoder);
        VideoDecoder.isConfigSupported = (config) =>
            (window.refuseStreams ? Promise.resolve({ supported: false, config }) : ask(config));
        const session = await connect({ ports: [port] });
        const fallbacks = [];
        session.on('page.onDecoderFallback', (event) => fallbacks.push(event));
        const errors = [];
        session.on('error', (error) => errors.push(error.message));
        const view = await session.attach(document.getElementById('video'), { render: 'page' });
        const before = { decoder: view.decoder, canvases: document.querySelectorAll('#video canvas').length };
        window.refuseStreams = true;
        await session.command('video.startPlay', { wndIndex: 0, url });
        const seen = new Set();
        for (const started = Date.now(); seen.size < 10 && Date.now() - started < 30000;) {
            await new Promise((resolve) => setTimeout(resolve, 100));
            const video = document.querySelector('#video [data-wnd-index="0"] video');
            const index = video ? window.frameIndexOf(video) : -1;
            if (index >= 0)
                seen.add(index);
        }
        await session.close();
        const named = window.streamUrls.map((address) => new URL(address).searchParams.get('codecs'));
        return { before, fallbacks, errors, frames: [...seen], cellDecoder: view.decoderOf(0), named, mediaSource: decodableCodecs(window),
            cell: [...document.querySelector('#video [data-wnd-index="0"]').children].map((child) => child.localName) };
    }, { port: service.port, url: rtsp.url });
    if (result.skipped)
        return t.skip('no WebCodecs in this browser');
    assert.deepEqual(result.before, { decoder: 'webcodecs', canvases: 1 });
    assert.deepEqual(result.errors, []);
    assert.equal(result.fallbacks.length, 1, JSON.stringify(result.fallbacks));
    assert.equal(result.fallbacks[0].wndIndex, 0);
    assert.equal(result.fallbacks[0].decoder, 'mediasource');
    assert.match(result.fallbacks[0].codec, /^avc1\./);
    assert.deepEqual([result.cellDecoder, result.cell], ['mediasource', ['video']]);
    assert.ok(result.frames.length >= 10, `the strip did not advance: ${result.frames}`);
    // The second channel names what MediaSource decodes.
    assert.equal(result.named.length, 2, JSON.stringify(result.named));
    assert.equal(result.named[1], result.mediaSource.join(','));
});
