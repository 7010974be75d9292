// A new user's first run, end to end and checked by what is on the screen: Xvfb with openbox, the real
// service on Qt's "xcb" platform, a local RTSP stream, and the demo page as shipped, served from a
// local origin, in Debian's Chromium with the library's defaults. The user types the stream's address,
// presses Connect and Play, opens the menu, and closes the tab; at 100 % and 125 % zoom and at a device
// scale factor of 2. At 100 % the service is also killed and started again under the page.
//
// The only change made to the page is the colour of the video element, so that the screen tells where
// it is. LS_TEST_SCREENSHOT_DIR names a folder for the screens; skipped without Xvfb, openbox,
// Chromium or GStreamer's RTSP server.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';
import { startPageServer } from './page-server.mjs';
import { startRtsp } from './rtsp-stream.mjs';
import { startService } from './service-process.mjs';

const SCREEN = { width: 2560, height: 1600 };
const MARKER = [0x00, 0xe0, 0xe0]; // the video element's colour for this test
// What the video library paints besides the video: cell background, cell borders, selected cell.
const PLUGIN_COLOURS = [[0x34, 0x34, 0x34], [0x17, 0x1c, 0x20], [0xff, 0xcc, 0x00]];
const TOLERANCE = 3; // pixels between the plug-in window's edges and the element's
// Deadlines, generous: the rest of the suite may run beside this test on two cores.
const SCREEN_TIMEOUT = 30000;
const PROCESS_TIMEOUT = 30000;

const grabber = process.env.LS_SCREEN_GRAB;
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const missing = [['Xvfb', '/usr/bin/Xvfb'], ['openbox', '/usr/bin/openbox'], ['Chromium', chromiumPath],
    ['the screen reader', grabber]].filter(([, file]) => !file || !fs.existsSync(file)).map(([name]) => name);

const screenshots = process.env.LS_TEST_SCREENSHOT_DIR;
const processes = [];
let display;
let rtsp;
let rtspServer;
let pages;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/** Polls check until it returns a true value, or throws with what it saw last. */
async function waitFor(what, check, timeout = SCREEN_TIMEOUT) {
    let seen;
    for (const started = Date.now(); Date.now() - started < timeout;) {
        seen = await check();
        if (seen === true || (seen && seen.ok))
            return seen;
        await sleep(150);
    }
    throw new Error(`${what} within ${timeout} ms; last seen: ${JSON.stringify(seen)}`);
}

function startProcess(command, args, options = {}) {
    const child = spawn(command, args, { stdio: 'ignore', ...options });
    processes.push(child);
    return child;
}

/** Xvfb on a display number of its own choosing, and openbox on it once it answers. */
async function startDisplay() {
    const server = startProcess('Xvfb', ['-displayfd', '3', '-screen', '0', `${SCREEN.width}x${SCREEN.height}x24`,
        '-nolisten', 'tcp'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
    const number = await new Promise((resolve, reject) => {
        let text = '';
        server.stdio[3].on('data', (chunk) => {
            text += chunk;
            if (text.includes('\n'))
                resolve(text.trim());
        });
        server.once('exit', () => reject(new Error('Xvfb ended')));
    });
    const name = `:${number}`;
    const env = { ...process.env, DISPLAY: name };
    let manager = startProcess('openbox', [], { env });
    await waitFor('openbox manages the display', () => {
        // A window manager that ended (on a display slow to answer at first, say) is started again.
        if (manager.exitCode !== null || manager.signalCode !== null)
            manager = startProcess('openbox', [], { env });
        return spawnSync(grabber, ['--window-manager'], { env }).status === 0;
    }, PROCESS_TIMEOUT);
    return name;
}

/** A rectangle of the screen as RGB rows; saved as PNG under name when screenshots are wanted. */
function grab(area = { left: 0, top: 0, width: SCREEN.width, height: SCREEN.height }, name = undefined) {
    const args = [area.left, area.top, area.width, area.height].map(String);
    if (name && screenshots) {
        fs.mkdirSync(screenshots, { recursive: true });
        args.push(path.join(screenshots, `${name}.png`));
    }
    const result = spawnSync(grabber, args, { env: { ...process.env, DISPLAY: display }, maxBuffer: 64 << 20 });
    assert.equal(result.status, 0, `the screen could not be read: ${result.stderr}`);
    const header = /^P6\n(\d+) (\d+)\n255\n/.exec(result.stdout.subarray(0, 40).toString('latin1'));
    return { ...area, pixels: result.stdout.subarray(header[0].length) };
}

const near = (pixels, at, colour, slack = 6) =>
    Math.abs(pixels[at] - colour[0]) <= slack && Math.abs(pixels[at + 1] - colour[1]) <= slack &&
    Math.abs(pixels[at + 2] - colour[2]) <= slack;

/** The bounding box, in screen pixels, of the pixels of a grab that match; and how many match. */
function boxOf(image, matches) {
    let left = Infinity, top = Infinity, right = -Infinity, bottom = -Infinity, count = 0;
    for (let y = 0; y < image.height; ++y) {
        for (let x = 0; x < image.width; ++x) {
            if (!matches(image.pixels, (y * image.width + x) * 3))
                continue;
            ++count;
            left = Math.min(left, x); right = Math.max(right, x);
            top = Math.min(top, y); bottom = Math.max(bottom, y);
        }
    }
    return count ? { left: image.left + left, top: image.top + top, width: right - left + 1, height: bottom - top + 1, count } : { count };
}

const isPlugin = (pixels, at) => PLUGIN_COLOURS.some((colour) => near(pixels, at, colour, 3));
const isMarker = (pixels, at) => near(pixels, at, MARKER, 24);
const grow = (r, by) => ({ left: r.left - by, top: r.top - by, width: r.width + 2 * by, height: r.height + 2 * by });
const inset = (r, by) => grow(r, -by);

/**
 * Where the plug-in window's edges are against the element's: along lines a quarter and three quarters
 * across, from a few pixels outside the element (the page's white margin) inward to the first pixel
 * that is neither the page nor the element's own colour. Text further out and the video inside do not
 * count.
 */
function edgesOf(element, image) {
    const at = (x, y) => ((y - image.top) * image.width + (x - image.left)) * 3;
    const isPage = (x, y) => near(image.pixels, at(x, y), [255, 255, 255], 12) || isMarker(image.pixels, at(x, y));
    const start = 2 * TOLERANCE + 2;
    const walk = (x, y, dx, dy) => {
        for (let step = 0; step < start + Math.max(element.width, element.height) / 2 && isPage(x, y); ++step) {
            x += dx;
            y += dy;
        }
        return dx ? x : y;
    };
    const worst = (values) => values.reduce((a, b) => (Math.abs(b) > Math.abs(a) ? b : a));
    const rows = [0.25, 0.75].map((f) => element.top + Math.round(element.height * f));
    const columns = [0.25, 0.75].map((f) => element.left + Math.round(element.width * f));
    const right = element.left + element.width - 1;
    const bottom = element.top + element.height - 1;
    return [
        worst(rows.map((y) => walk(element.left - start, y, 1, 0) - element.left)),
        worst(columns.map((x) => walk(x, element.top - start, 0, 1) - element.top)),
        worst(rows.map((y) => walk(right + start, y, -1, 0) - right)),
        worst(columns.map((x) => walk(x, bottom + start, 0, -1) - bottom)),
    ];
}

/** Whether the plug-in window covers the element: its edges within the tolerance, no marker left. */
function covering(element, name) {
    const image = grab(grow(element, 40), name);
    const edges = edgesOf(element, image);
    const markerLeft = boxOf(grab(inset(element, TOLERANCE)), isMarker).count;
    return { ok: edges.every((d) => Math.abs(d) <= TOLERANCE) && markerLeft === 0, edges, markerLeft };
}

/** How many pixels differ between two grabs of the same rectangle. */
function changed(a, b) {
    let count = 0;
    for (let at = 0; at < a.pixels.length; at += 3) {
        if (!near(a.pixels, at, [b.pixels[at], b.pixels[at + 1], b.pixels[at + 2]], 8))
            ++count;
    }
    return count;
}

before(async () => {
    if (missing.length)
        return;
    display = await startDisplay();
    const server = await startRtsp({ width: 640, height: 360 });
    rtspServer = server;
    rtsp = server?.url;
    pages = await startPageServer();
});

after(() => {
    pages?.close();
    rtspServer?.stop();
    for (const child of processes.reverse())
        child.kill('SIGKILL');
});

/** Chromium with a zoom and device scale factor of its own, a new profile each time. */
async function openDemo(scenario, service) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-first-run-'));
    // The default zoom of the profile, as a user sets it in the browser's settings (level: 1.2 ** level).
    fs.mkdirSync(path.join(profile, 'Default'));
    fs.writeFileSync(path.join(profile, 'Default', 'Preferences'), JSON.stringify({
        partition: { default_zoom_level: { x: Math.log(scenario.zoom) / Math.log(1.2) } } }));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: chromiumPath, headless: false, viewport: null,
        env: { ...process.env, DISPLAY: display },
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', '--password-store=basic', '--test-type',
            `--force-device-scale-factor=${scenario.scale}`, '--window-position=40,30', '--window-size=1000,760'],
    });
    const page = context.pages()[0] ?? await context.newPage();
    page.on('console', (message) => process.stderr.write(`page: ${message.text()}\n`));
    await page.goto(`${pages.origin}/web/demo/?ports=${service.port}-${service.port + 2}`);
    await page.addStyleTag({ content: `#video { background: rgb(${MARKER}) !important; color: rgb(${MARKER}) !important; }` });
    const close = async () => {
        await context.close().catch(() => {});
        fs.rmSync(profile, { recursive: true, force: true });
    };
    return { context, page, close };
}

/** The element on the screen, found by its colour, where the page's own size for it says it must be. */
async function elementOnScreen(page, name) {
    const { rect, ratio } = await page.evaluate(() => {
        const r = document.getElementById('video').getBoundingClientRect();
        return { rect: { left: r.left, top: r.top, width: r.width, height: r.height }, ratio: devicePixelRatio };
    });
    const found = await waitFor('the video element is on the screen', () => {
        const box = boxOf(grab(undefined, name), isMarker);
        const right = box.count && Math.abs(box.width - rect.width * ratio) <= 2 && Math.abs(box.height - rect.height * ratio) <= 2;
        return { ok: right, box, expected: [rect.width * ratio, rect.height * ratio] };
    });
    return { screen: found.box, rect, ratio };
}

/** Page rectangle (CSS pixels) to screen pixels, from where the element was found. */
const toScreen = (element, r) => ({
    left: Math.round(element.screen.left + (r.left - element.rect.left) * element.ratio),
    top: Math.round(element.screen.top + (r.top - element.rect.top) * element.ratio),
    width: Math.round(r.width * element.ratio), height: Math.round(r.height * element.ratio),
});

const statusOf = (page) => page.$eval('#status', (node) => node.textContent);

/**
 * Frames of the stream arrive in the first cell: the strip across the top tenth of the test stream's
 * frames (the frame's index in black and white blocks) changes from one grab to the next. The rest of the
 * picture is a still grey, so it cannot tell a playing stream from a stale picture left on the screen by a
 * window that is gone. What the demo says of its cells goes with a failure.
 */
async function framesChange(element, what, page) {
    const cellHeight = element.screen.height / 2;
    const cell = { left: element.screen.left + Math.round(element.screen.width / 16), top: element.screen.top + Math.round(cellHeight * 0.04),
        width: Math.round(element.screen.width * 3 / 8), height: Math.max(2, Math.round(cellHeight * 0.05)) };
    let last = grab(cell);
    await waitFor(what, async () => {
        await sleep(200);
        const next = grab(cell);
        const count = changed(last, next);
        const plugin = boxOf(next, isPlugin).count;
        last = next;
        const ok = count > 50 && plugin < cell.width * cell.height / 4;
        if (ok)
            return { ok };
        // What the demo says, for a failure's report: its cells, its status and its newest log lines.
        const said = await page.evaluate(() => ({
            cells: document.getElementById('cells').textContent,
            status: document.getElementById('status').textContent,
            log: [...document.querySelectorAll('#log li')].slice(0, 6).map((item) => item.textContent), // newest first
        }));
        return { ok, changedPixels: count, pluginPixels: plugin, ...said };
    });
}

const scenarios = [
    { name: 'zoom 100 %', zoom: 1, scale: 1, restart: true },
    { name: 'zoom 125 %', zoom: 1.25, scale: 1 },
    { name: 'device scale factor 2', zoom: 1, scale: 2 },
];

for (const scenario of scenarios) {
    test(`the demo with its defaults at ${scenario.name}: window over the element, the stream, the menu's hole, the tab closed`,
        { skip: missing.length ? `missing: ${missing.join(', ')}` : false }, async (t) => {
            if (!rtsp)
                return t.skip('no GStreamer RTSP server');
            const tag = scenario.name.replace(/[^a-z0-9]+/gi, '-');
            let service = await startService({ platform: 'xcb', env: { DISPLAY: display } });
            const demo = await openDemo(scenario, service);
            try {
                const { page } = demo;
                const element = await elementOnScreen(page, `${tag}-1-page`);

                await page.fill('#url', rtsp);
                await page.click('#connect');
                await waitFor('the demo connects and sets its layout', async () =>
                    /^Connected over websocket/.test(await statusOf(page)) || { status: await statusOf(page) });
                // Its default, render 'auto', takes the native window where one can be placed.
                assert.match(await statusOf(page), /native window/);
                await waitFor('the plug-in window covers the element', () => covering(element.screen, `${tag}-2-window`));

                await page.click('#play');
                await framesChange(element, 'the stream\'s frames change in the first cell', page);
                await waitFor('the first cell says it plays', async () =>
                    /Cell 1: playing/.test(await page.$eval('#cells', (node) => node.textContent)));
                grab(grow(element.screen, 40), `${tag}-3-playing`);
                // It stays there while the stream plays.
                for (const started = Date.now(); Date.now() - started < 2000; await sleep(250)) {
                    const seen = covering(element.screen);
                    assert.ok(seen.ok, `the window moved off the element: ${JSON.stringify(seen)}`);
                }

                if (scenario.restart) {
                    // The service killed and started again on its port: the page reconnects by itself, and
                    // the window, its layout and the stream come back.
                    service.child.kill('SIGKILL');
                    await waitFor('the demo says it reconnects', async () => /reconnecting/.test(await statusOf(page)));
                    service.stop();
                    service = await startService({ platform: 'xcb', env: { DISPLAY: display }, port: service.port });
                    await waitFor('the demo reconnects', async () => /^Reconnected/.test(await statusOf(page)) || { status: await statusOf(page) });
                    await waitFor('the new window covers the element', () => covering(element.screen, `${tag}-4-reconnected`));
                    await framesChange(element, 'the stream plays again in the first cell', page);
                }

                // The open menu lies over the window and shows through its hole.
                await page.click('#menu-button');
                const overlap = await page.evaluate(() => {
                    const m = document.getElementById('menu').getBoundingClientRect();
                    const v = document.getElementById('video').getBoundingClientRect();
                    const left = Math.max(m.left, v.left), top = Math.max(m.top, v.top);
                    return { left, top, width: Math.min(m.right, v.right) - left, height: Math.min(m.bottom, v.bottom) - top };
                });
                assert.ok(overlap.width > 50 && overlap.height > 50, `the menu overlaps the element: ${JSON.stringify(overlap)}`);
                const hole = inset(toScreen(element, overlap), TOLERANCE);
                await waitFor('the menu shows through the hole', () => {
                    const image = grab(hole, `${tag}-5-menu`);
                    const plugin = boxOf(image, isPlugin).count;
                    const white = boxOf(image, (p, at) => near(p, at, [255, 255, 255], 12)).count;
                    // The menu's text may share a shade with the window: a few pixels, not a window's worth.
                    return { ok: plugin < hole.width * hole.height / 200 && white > hole.width * hole.height / 2, plugin, white };
                });
                grab(grow(element.screen, 40), `${tag}-5-menu-open`);
                await page.click('#menu-button');
                // Closed, the menu's place shows the window again (the video or the cell), not the page.
                await waitFor('the closed menu\'s hole is filled', () =>
                    boxOf(grab(hole), (p, at) => near(p, at, [255, 255, 255], 12) || isMarker(p, at)).count < hole.width * hole.height / 4);

                // The tab closed, another tab of the browser left: the window goes with the page's session.
                // (The other tab in front hides the window; the demo's tab back in front shows it again.)
                const other = await demo.context.newPage();
                await other.goto('data:text/html,<body style="background:#fff"></body>');
                await page.bringToFront();
                await waitFor('the window is back over the element', () => covering(element.screen));
                const released = service.log().split('WindowControl::stopAudioPlay').length;
                await page.close({ runBeforeUnload: true });
                await waitFor('the service releases the window', () =>
                    service.log().split('WindowControl::stopAudioPlay').length > released);
                await waitFor('the other tab shows where the window was', () => {
                    const image = grab(element.screen, `${tag}-6-closed`);
                    const plugin = boxOf(image, isPlugin).count;
                    const white = boxOf(image, (p, at) => near(p, at, [255, 255, 255], 12)).count;
                    return { ok: plugin === 0 && white > element.screen.width * element.screen.height * 0.9, plugin, white };
                });
            } finally {
                await demo.close();
                service.stop();
            }
        });
}
