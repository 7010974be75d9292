// Which pages may use the service, as Debian's Chromium really asks: a page of this machine and a page
// under a public name (mapped to loopback by the browser's resolver, so nothing leaves the machine) try
// the WebSocket, a fetch POST and a plain <img> of the image channel (no crossOrigin: no Origin sent).
import assert from 'node:assert/strict';
import http from 'node:http';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';
import { startService } from './service-process.mjs';

let service;
let pageServer;
let browser;

before(async () => {
    service = await startService();
    pageServer = http.createServer((request, response) => {
        response.writeHead(200, { 'Content-Type': 'text/html' }).end('<!doctype html><title>page</title>');
    });
    await new Promise((resolve) => pageServer.listen(0, '127.0.0.1', resolve));
    browser = await chromium.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu', '--host-resolver-rules=MAP pages.example.com 127.0.0.1'],
    });
});

after(async () => {
    await browser?.close();
    pageServer?.close();
    service?.stop();
});

// What a page at pageOrigin gets on each road: true where the service served it.
async function tryEveryRoad(pageOrigin, { imageReferrer = 'strict-origin-when-cross-origin' } = {}) {
    const page = await browser.newPage();
    await page.goto(`${pageOrigin}/`);
    const outcome = await page.evaluate(async ({ base, imageReferrer }) => {
        const webSocket = await new Promise((resolve) => {
            const socket = new WebSocket(`ws://${base}/`);
            socket.onopen = () => { socket.close(); resolve(true); };
            socket.onerror = () => resolve(false);
        });
        let post = false;
        try {
            const answer = await fetch(`http://${base}/`, { method: 'POST', body: '{"cmd":"system.webconnect"}' });
            post = (await answer.text()).includes('"uuid"');
        } catch {
            post = false;
        }
        const image = await new Promise((resolve) => {
            const img = new Image();
            img.referrerPolicy = imageReferrer;
            img.onload = () => resolve(true);
            img.onerror = () => resolve(false);
            img.src = `http://${base}/?t=${Date.now()}&sequence=img&data=MTIw`;
        });
        return { webSocket, post, image };
    }, { base: `127.0.0.1:${service.port}`, imageReferrer });
    await page.close();
    return outcome;
}

test('a page of this machine uses every road, a plain <img> included', async () => {
    const port = pageServer.address().port;
    assert.deepEqual(await tryEveryRoad(`http://localhost:${port}`), { webSocket: true, post: true, image: true });
});

test('a page under a public name gets nothing on any road', async () => {
    const port = pageServer.address().port;
    const refused = { webSocket: false, post: false, image: false };
    assert.deepEqual(await tryEveryRoad(`http://pages.example.com:${port}`), refused);
    // Without a Referer its <img> is an unknown page's: refused as well.
    assert.deepEqual(await tryEveryRoad(`http://pages.example.com:${port}`, { imageReferrer: 'no-referrer' }), refused);
    const log = service.log();
    assert.match(log, /handshake refused/);
    assert.match(log, /request refused/);
});
