// The client library (web/client) in Debian's headless Chromium, on a page from another local origin,
// against the real LocalService on the in-memory desktop: each of the three roads connects, answers
// commands, delivers the stand-in library's events and ends the session; a plug-in window follows an
// element that scrolls and gets a hole where a menu overlaps it.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';
import { startPageServer } from './page-server.mjs';
import { startService } from './service-process.mjs';

let service;
let pages;
let context;
let userDataDir;

before(async () => {
    service = await startService();
    pages = await startPageServer();
    userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-chromium-'));
    context = await chromium.launchPersistentContext(userDataDir, {
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        deviceScaleFactor: 2,
        viewport: { width: 1000, height: 700 },
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
});

after(async () => {
    await context?.close();
    pages?.close();
    service?.stop();
    if (userDataDir)
        fs.rmSync(userDataDir, { recursive: true, force: true });
});

async function openPage() {
    const page = await context.newPage();
    page.on('console', (message) => process.stderr.write(`page: ${message.text()}\n`));
    await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
    return page;
}

const waitForLog = async (text, count = 1) => {
    for (const started = Date.now(); Date.now() - started < 10000;) {
        if (service.log().split(text).length - 1 >= count)
            return true;
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
    return false;
};

for (const road of ['websocket', 'http', 'image']) {
    test(`${road}: connect, commands, events and disconnect from a page`, async () => {
        const page = await openPage();
        const result = await page.evaluate(async ({ port, road }) => {
            const { connect } = await import('/web/client/src/index.js');
            // The page check runs with the digest computed by Web Crypto; "detectport" over WebSocket, the
            // detect form over the HTTP roads.
            const detect = { user: 'web user', iterations: 3, challenge: 'beef', random: '-17' };
            const session = await connect({ ports: { start: port, end: port + 2 }, road, commandTimeout: 8000, detect });
            const title = document.title;
            const version = await session.command('window.getLocalServiceVersion');
            // Headless there is no browser window with the identifier in its title: asked again for about
            // 2 s, then a typed error; the page then names a parent by handle.
            const notFound = await session.attach(document.getElementById('video')).then(() => null,
                (error) => ({ code: error.code, errorCode: error.answer?.errorCode, hint: !!error.hint }));
            const window = await session.attach(document.getElementById('video'), { parentWnd: 77, embed: false });
            const event = new Promise((resolve, reject) => {
                setTimeout(() => reject(new Error('no stream event within 10 s')), 10000);
                session.on('window.onPluginEventHandler', resolve);
            });
            const arrange = await session.command('video.arrangeWindow', { windowNum: 4 });
            const play = await session.command('video.startPlay', { wndIndex: 1, url: 'rtsp://camera/1' });
            const streamEvent = await event;
            // A command without a handler of the library answers with the empty text.
            const empty = await session.command('video.setPlayMode');
            const uuid = session.uuid;
            await session.close();
            const refused = await session.command('video.stop').then(() => 'sent', (error) => error.code);
            return { uuid, kind: session.road.kind, pageCheck: session.pageCheck, version, arrange, create: window.answer, play, streamEvent, empty,
                refused, titleKept: document.title === title, notFound };
        }, { port: service.port, road });

        assert.equal(result.kind, road);
        assert.equal(result.pageCheck, true);
        assert.match(result.uuid, /^\{[0-9a-f-]{36}\}$/);
        assert.equal(result.version.localServiceVersion, '1.0.0.40');
        assert.equal(result.version.uuid, result.uuid);
        assert.deepEqual(result.notFound, { code: 'browser-window-not-found', errorCode: 5001, hint: true });
        assert.deepEqual([result.create.errorModule, result.create.errorCode], [0, 0]);
        assert.equal(result.arrange.windowNum, 4);
        assert.equal(result.play.errorCode, 0);
        assert.equal(result.play.wndIndex, 1);
        assert.equal(result.streamEvent.uuid, result.uuid);
        assert.equal(result.streamEvent.wndIndex, 1);
        assert.equal(result.empty, '');
        assert.equal(result.refused, 'closed');
        assert.ok(result.titleKept, 'the page title is restored after createWnd');
        // The end of the session released the plug-in window.
        assert.ok(await waitForLog('WindowControl::stopAudioPlay', 1), service.log().slice(-2000));
        await page.close();
    });
}

test('a plug-in window follows a scrolling, resized element and gets a hole where the menu overlaps it', async () => {
    const page = await openPage();
    const logBefore = service.log().length;
    const result = await page.evaluate(async ({ port }) => {
        const { connect } = await import('/web/client/src/index.js');
        const session = await connect({ ports: { start: port, end: port + 2 }, road: 'websocket' });
        const sent = [];
        const command = session.command.bind(session);
        session.command = (cmd, args, options) => {
            const entry = { cmd, args, title: document.title };
            sent.push(entry);
            entry.pending = command(cmd, args, options).then((answer) => (entry.answer = answer));
            return entry.pending;
        };
        const video = document.getElementById('video');
        const menu = document.getElementById('menu');
        // Headless there is no browser window to find by title: the page names a parent by handle.
        const window_ = await session.attach(video, { holes: '#menu.open', parentWnd: 77, embed: false });
        const frame = () => new Promise((resolve) => requestAnimationFrame(resolve));
        const settle = async () => {
            for (let i = 0; i < 3; ++i)
                await frame();
            await window_.placing;
            await Promise.all(sent.map((entry) => entry.pending));
        };
        const steps = [];
        const step = async (name, change) => {
            const from = sent.length;
            change();
            await settle();
            steps.push({ name, sent: sent.slice(from).map(({ cmd, args }) => (args ? { cmd, args } : { cmd })) });
        };
        await settle();
        await step('menu opens', () => menu.classList.add('open'));
        await step('menu closes', () => menu.classList.remove('open'));
        // Two scrolls and a resize in one frame: one placement.
        await step('scroll and resize', () => {
            scrollBy(0, 40);
            scrollBy(0, 60);
            video.style.width = '450px';
        });
        await step('scrolled past the top', () => scrollTo(0, 300));
        await step('out of view', () => scrollTo(0, 2000));
        await step('back', () => scrollTo(0, 0));
        await step('page hidden', () => {
            Object.defineProperty(document, 'visibilityState', { value: 'hidden', configurable: true });
            document.dispatchEvent(new Event('visibilitychange'));
        });
        const answers = sent.slice(1).map((entry) => entry.answer);
        const { cmd, args, title } = sent[0];
        const created = { cmd, args, title };
        await session.close();
        return { created, createAnswer: window_.answer, steps, answers, uuid: session.uuid, title: document.title };
    }, { port: service.port });

    // Device pixels at a ratio of 2; off Windows the page adds its content offset (none when headless).
    assert.deepEqual(result.created.args.rect, { left: 100, top: 400, width: 800, height: 600 });
    assert.equal(result.created.args.className, 'Chrome');
    // The browser window's title holds the session identifier while createWnd looks for it, and only then.
    assert.equal(result.created.title, result.uuid);
    assert.equal(result.title, 'Client library test page');
    const byName = Object.fromEntries(result.steps.map((s) => [s.name, s.sent]));
    const hole = { rect: { left: 100, top: 0, width: 240, height: 160 }, round: 0 };
    assert.deepEqual(byName['menu opens'], [{ cmd: 'window.cuttingPartWindow', args: hole }]);
    assert.deepEqual(byName['menu closes'], [{ cmd: 'window.repairPartWindow', args: hole }]);
    assert.deepEqual(byName['scroll and resize'],
        [{ cmd: 'window.setWndGeometry', args: { rect: { left: 100, top: 200, width: 900, height: 600 } } }]);
    assert.deepEqual(byName['scrolled past the top'], [
        { cmd: 'window.setWndGeometry', args: { rect: { left: 100, top: -200, width: 900, height: 600 } } },
        { cmd: 'window.setWndCover', args: { position: 'top', size: 200 } },
    ]);
    assert.deepEqual(byName['out of view'], [{ cmd: 'window.hideWnd' }]);
    assert.deepEqual(byName.back, [
        { cmd: 'window.setWndGeometry', args: { rect: { left: 100, top: 600, width: 900, height: 400 } } },
        { cmd: 'window.setWndCover', args: { position: 'top', size: 0 } },
        { cmd: 'window.showWnd' },
    ]);
    assert.deepEqual(byName['page hidden'], [{ cmd: 'window.hideWnd' }]);
    // Every window command was answered 0/0 for this session.
    for (const answer of result.answers)
        assert.deepEqual([answer.errorModule, answer.errorCode], [0, 0], JSON.stringify(answer));
    assert.deepEqual([result.createAnswer.errorModule, result.createAnswer.errorCode], [0, 0]);
    // The service placed, cut and repaired the window: a placement per geometry step, and the hole's
    // shape (left, top, right, bottom, corner) in the window's own coordinates.
    const log = service.log().slice(logBefore).split('\n');
    assert.ok(log.includes('createWnd and show'), log.join('\n'));
    assert.ok(log.includes('cuttingPartWindow 100 0 340 160 0'), log.join('\n'));
    assert.ok(log.includes('repairPartWindow 100 0 340 160 0'), log.join('\n'));
    assert.ok(log.filter((line) => line.startsWith('rcParent ')).length >= 4, log.join('\n'));
    await page.close();
});

test('the demo headless: with its defaults the cells play in the page; asked for a native window it names the failed step', async () => {
    const page = await context.newPage();
    await page.goto(`${pages.origin}/web/demo/?ports=${service.port}-${service.port + 2}`);
    await page.click('#connect');
    await page.waitForFunction(() => document.getElementById('status').classList.contains('ok'), null, { timeout: 15000 });
    assert.match(await page.$eval('#status', (node) => node.textContent), /video in the page/);
    // Each cell decodes with WebCodecs into a <canvas> where the browser has it, else plays a <video>.
    const decoder = await page.evaluate(() => (typeof VideoDecoder === 'function' ? 'WebCodecs' : 'MediaSource'));
    assert.match(await page.$eval('#status', (node) => node.textContent), new RegExp(`video in the page \\(${decoder}\\)`));
    assert.equal(await page.$$eval('#video [data-wnd-index] > :is(video, canvas)', (cells) => cells.length), 4);
    await page.reload();

    await page.selectOption('#render', 'native');
    await page.click('#connect');
    await page.waitForFunction(() => document.getElementById('status').classList.contains('error'), null, { timeout: 15000 });
    const status = await page.$eval('#status', (node) => node.textContent);
    assert.match(status, /^Step 2 of 3, creating the plug-in window over the video area failed: the service found no browser window/);
    assert.match(status, /Wayland/);
    assert.match(await page.$eval('#log', (log) => log.textContent), /failed/);
    assert.equal(await page.$eval('#connect', (button) => button.disabled), false, 'the user can try again');
    await page.close();
});

test('a window in a scrolling container is cut to the container', async () => {
    const page = await openPage();
    const steps = await page.evaluate(async ({ port }) => {
        const { connect } = await import('/web/client/src/index.js');
        const session = await connect({ ports: { start: port, end: port + 2 }, road: 'websocket' });
        const sent = [];
        const command = session.command.bind(session);
        session.command = (cmd, args, options) => {
            sent.push(args ? { cmd, args } : { cmd });
            return command(cmd, args, options);
        };
        const window_ = await session.attach(document.getElementById('clipped'), { parentWnd: 77, embed: false });
        const settle = async () => {
            for (let i = 0; i < 3; ++i)
                await new Promise((resolve) => requestAnimationFrame(resolve));
            await window_.placing;
        };
        await settle();
        const first = sent.splice(0);
        document.getElementById('box').scrollTop = 150;
        await settle();
        const scrolled = sent.splice(0);
        await session.close();
        return { first, scrolled };
    }, { port: service.port });
    // The container shows page rows 100..200 (device 200..600); the element starts at row 200.
    assert.deepEqual(steps.first.slice(1), [
        { cmd: 'window.setWndGeometry', args: { rect: { left: 1240, top: 400, width: 400, height: 300 } } },
        { cmd: 'window.setWndCover', args: { position: 'bottom', size: 100 } },
    ]);
    assert.deepEqual(steps.scrolled, [
        { cmd: 'window.setWndGeometry', args: { rect: { left: 1240, top: 100, width: 400, height: 200 } } },
        { cmd: 'window.setWndCover', args: { position: 'top', size: 100 } },
        { cmd: 'window.setWndCover', args: { position: 'bottom', size: 0 } },
    ]);
    await page.close();
});

test('an impostor on a port of the range: its forged messages fire nothing, and a page that pinned or remembered the service\'s port never reaches it', async () => {
    const { WebSocketServer } = await import('ws');
    const { freePortRange } = await import('./service-process.mjs');
    const impostorPort = await freePortRange(1);
    const impostor = new WebSocketServer({ port: impostorPort, host: '127.0.0.1' });
    await new Promise((resolve) => impostor.once('listening', resolve));
    const received = [];
    const uuid = '{9f0c3a57-1d2e-4b6a-8c9d-0e1f2a3b4c5d}';
    impostor.on('connection', (socket) => socket.on('message', (data) => {
        const request = JSON.parse(String(data));
        received.push(request.cmd);
        if (request.cmd === 'system.webconnect') {
            socket.send(JSON.stringify({ errorModule: 0, errorCode: 0, uuid, version: '1.0' }));
            return;
        }
        for (const forged of [
            { cmd: 'close', uuid, reason: 'forged' }, { cmd: 'error', uuid }, { cmd: 'reconnecting', uuid },
            { cmd: 'window.onGetSelectWndInfo', uuid: '{00000000-0000-4000-8000-000000000000}', wndIndex: 1 },
            { cmd: 'window.onGetSelectWndInfo', wndIndex: 2 },
            { sequence: 'ls1', uuid, errorCode: 0, forged: true },
            { cmd: 'window.onGetSelectWndInfo', uuid, wndIndex: 3 },
            { sequence: request.sequence, uuid, errorCode: 0, localServiceVersion: 'impostor' }])
            socket.send(JSON.stringify(forged));
    }));
    try {
        const page = await openPage();
        const result = await page.evaluate(async ({ impostorPort, port }) => {
            const { connect } = await import('/web/client/src/index.js');
            localStorage.clear();
            const fooled = await connect({ ports: [impostorPort], road: 'websocket' });
            const fired = [];
            for (const name of ['close', 'error', 'reconnecting', 'reconnected', '*'])
                fooled.on(name, (value) => fired.push(`${name} ${value?.wndIndex ?? value?.reason ?? ''}`));
            const answer = await fooled.command('window.getLocalServiceVersion');
            const closed = fooled.closed;
            const heard = [...fired];
            await fooled.close();
            // Pinned to the service's port; then the range with the impostor's port first, after the
            // service's port was remembered as the last good one.
            const pinned = await connect({ ports: [port], road: 'websocket' });
            await pinned.close();
            const remembered = await connect({ ports: [impostorPort, port], road: 'websocket' });
            await remembered.close();
            return { fired: heard, answer, closed, pinned: pinned.port, remembered: remembered.port };
        }, { impostorPort, port: service.port });
        assert.deepEqual(result.fired, ['* 3']);
        assert.equal(result.answer.localServiceVersion, 'impostor', 'its own answer, not the forged one');
        assert.equal(result.closed, false);
        assert.equal(result.pinned, service.port);
        assert.equal(result.remembered, service.port);
        assert.deepEqual(received, ['system.webconnect', 'window.getLocalServiceVersion'], 'the impostor heard nothing more');
        await page.close();
    } finally {
        impostor.close();
    }
});
