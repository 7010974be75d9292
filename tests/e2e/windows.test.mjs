// A page's plug-in window over WebSocket against the real executable. Headless, the service runs on its
// in-memory desktop, where no browser window exists: the page names its parent window by handle.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import WebSocket from 'ws';
import { startService } from './service-process.mjs';

let service;
before(async () => { service = await startService(); });
after(() => service.stop());

async function open() {
    const socket = new WebSocket(`ws://127.0.0.1:${service.port}/`);
    const messages = [];
    const waiters = [];
    socket.on('message', (data) => {
        const waiter = waiters.shift();
        if (waiter)
            waiter(data.toString());
        else
            messages.push(data.toString());
    });
    await new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); });
    const next = (ms = 5000) => new Promise((resolve, reject) => {
        if (messages.length)
            return resolve(messages.shift());
        const timer = setTimeout(() => reject(new Error('no message')), ms);
        waiters.push((text) => { clearTimeout(timer); resolve(text); });
    });
    socket.send(JSON.stringify({ cmd: 'system.webconnect' }));
    const uuid = JSON.parse(await next()).uuid;
    // One window command and its compact answer.
    const call = async (word, members = {}, sequence = word) => {
        socket.send(JSON.stringify({ cmd: `window.${word}`, uuid, sequence, ...members }));
        return next();
    };
    return { socket, uuid, call };
}

const ok = (uuid, sequence) => JSON.stringify({ errorCode: 0, errorModule: 0, sequence, uuid });

// The service's log, once it holds a line matching pattern.
async function logLine(pattern, ms = 5000) {
    for (const started = Date.now(); Date.now() - started < ms;) {
        const line = service.log().split('\n').find((text) => pattern.test(text));
        if (line)
            return line;
        await new Promise((resolve) => setTimeout(resolve, 20));
    }
    throw new Error(`no log line ${pattern}: ${service.log()}`);
}

test('create, place, cover, cut, show, hide and destroy a window; the socket closing releases it', async () => {
    const page = await open();
    const rect = { left: 10, top: 20, width: 400, height: 300 };

    assert.equal(await page.call('createWnd', { rect, parentWnd: '77', embed: false }), ok(page.uuid, 'createWnd'));
    await logLine(/^createWnd and show$/);
    assert.equal(await page.call('setWndGeometry', { rect: { ...rect, width: 320 } }), ok(page.uuid, 'setWndGeometry'));
    assert.equal(await page.call('setWndCover', { position: 'left', size: 30 }), ok(page.uuid, 'setWndCover'));
    assert.equal(await page.call('cuttingPartWindow', { rect: { left: -5, top: 10, width: 100, height: 50 }, round: 8 }),
        ok(page.uuid, 'cuttingPartWindow'));
    // The shape, as left, top, right, bottom and corner: x below 0 counts as 0, the width stays.
    await logLine(/^cuttingPartWindow 0 10 100 60 8$/);
    assert.equal(await page.call('repairPartWindow', { rect: { left: 0, top: 10, width: 100, height: 50 }, round: 8 }),
        ok(page.uuid, 'repairPartWindow'));
    await logLine(/^repairPartWindow 0 10 100 60 8$/);
    assert.equal(await page.call('hideWnd'), ok(page.uuid, 'hideWnd'));
    assert.equal(await page.call('showWnd'), ok(page.uuid, 'showWnd'));
    assert.equal(await page.call('setWndZOrder', { flag: 1 }), ok(page.uuid, 'setWndZOrder'));
    // A numeric "sequence" comes back as the empty text.
    assert.equal(await page.call('destroyWnd', {}, 7), ok(page.uuid, ''));
    await logLine(/^WindowControl::stopAudioPlay$/);
    // Without a window every command still answers 0/0.
    assert.equal(await page.call('showWnd'), ok(page.uuid, 'showWnd'));

    // Without "parentWnd" no browser window is found on this desktop: registered but hidden.
    const answer = JSON.parse(await page.call('createWnd', { rect }));
    assert.deepEqual([answer.errorModule, answer.errorCode], [5, 5001]);

    const before = service.log().split('\n').filter((line) => line === 'WindowControl::stopAudioPlay').length;
    page.socket.close();
    for (const started = Date.now();;) {
        const now = service.log().split('\n').filter((line) => line === 'WindowControl::stopAudioPlay').length;
        if (now > before)
            break;
        assert.ok(Date.now() - started < 5000, 'closing the socket did not release the window');
        await new Promise((resolve) => setTimeout(resolve, 20));
    }
});
