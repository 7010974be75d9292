// Drives Debian's Chromium headless on a test page served from a local origin other than the service's.
//
//   node browser-driver.mjs
//
// Prints {"ready":true,"origin":...} once the page is loaded, then reads one JSON request a line from
// stdin, {"id":n,"fn":"name","args":[...]}, calls window.LocalServiceHttp[name](...args) in the page
// and prints {"id":n,"result":...} or {"id":n,"error":"..."}. Requests run concurrently, so a long-poll
// loop can be in flight while other commands go. Ends when stdin closes.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const files = {
    '/http-test.html': [path.join(here, 'pages/http-test.html'), 'text/html'],
    '/localservice-http.js': [path.join(here, 'pages/localservice-http.js'), 'text/javascript'],
    '/pako.min.js': [path.join(here, 'node_modules/pako/dist/pako.min.js'), 'text/javascript'],
};

const pageServer = http.createServer((request, response) => {
    const file = files[new URL(request.url, 'http://x').pathname];
    if (!file) {
        response.writeHead(404).end();
        return;
    }
    response.writeHead(200, { 'Content-Type': file[1] }).end(fs.readFileSync(file[0]));
});
await new Promise((resolve) => pageServer.listen(0, '127.0.0.1', resolve));
// "localhost" and the service's "127.0.0.1" are different origins.
const origin = `http://localhost:${pageServer.address().port}`;

const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--force-color-profile=srgb'],
});
const page = await browser.newPage();
page.on('console', (message) => process.stderr.write(`page: ${message.text()}\n`));
await page.goto(`${origin}/http-test.html`);

const print = (object) => process.stdout.write(JSON.stringify(object) + '\n');
print({ ready: true, origin });

const pending = [];
for await (const line of readline.createInterface({ input: process.stdin })) {
    if (!line.trim())
        continue;
    const { id, fn, args } = JSON.parse(line);
    pending.push(page.evaluate(([name, values]) => window.LocalServiceHttp[name](...values), [fn, args || []])
        .then((result) => print({ id, result }), (error) => print({ id, error: String(error.message || error) })));
}
await Promise.all(pending);
await browser.close();
pageServer.close();
