// The WebSocket road from a real browser: Debian's Chromium, headless, on a page served from another
// local origin than the service's.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { startService } from './service-process.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageFile = path.join(here, 'pages/websocket-test.html');

let service;
let pageServer;
let context;
let userDataDir;

before(async () => {
    service = await startService();
    pageServer = http.createServer((request, response) => {
        response.writeHead(200, { 'Content-Type': 'text/html' }).end(fs.readFileSync(pageFile));
    });
    await new Promise((resolve) => pageServer.listen(0, '127.0.0.1', resolve));
    userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-chromium-'));
    context = await chromium.launchPersistentContext(userDataDir, {
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
});

after(async () => {
    await context?.close();
    pageServer?.close();
    service?.stop();
    if (userDataDir)
        fs.rmSync(userDataDir, { recursive: true, force: true });
});

test('a page from another origin connects, asks for the version and passes the page check', async () => {
    const login = { user: 'web user', iterations: 3, challenge: 'beef', random: '-17' };
    const query = new URLSearchParams({ port: service.port, ...login, iterations: String(login.iterations) });
    const page = await context.newPage();
    // "localhost" is another origin than the service's "127.0.0.1".
    await page.goto(`http://localhost:${pageServer.address().port}/websocket-test.html?${query}`);
    const result = await page.evaluate(() => window.testResult);
    assert.equal(result.error, undefined, result.error);
    assert.notEqual(result.origin, `http://127.0.0.1:${service.port}`);

    const [connect, version, detect] = result.received.map((text) => JSON.parse(text));
    assert.match(connect.uuid, /^\{[0-9a-f-]{36}\}$/);
    assert.deepEqual(version, {
        errorCode: 0, errorModule: 0, localServiceVersion: '1.0.0.40', sequence: 'page', uuid: connect.uuid,
    });
    // The page's Web Crypto digest is the one the service recomputes.
    assert.deepEqual(detect, { errorCode: 0, errorModule: 0, uuid: connect.uuid, version: '1.0' });
    await page.close();
});
