// Probing the port range: closed ports are passed over quickly, a port that answers as something
// else is not taken for the service, and the page check's digest is the service's.
import assert from 'node:assert/strict';
import crypto, { webcrypto } from 'node:crypto';
import http from 'node:http';
import net from 'node:net';
import { after, test } from 'node:test';
import { connect, pageDigest, portsOf } from '../../web/client/src/index.js';

const servers = [];
after(() => servers.forEach((server) => server.close()));

/** count consecutive ports that are closed now (bound once, then released). */
async function closedPorts(count) {
    for (;;) {
        const base = 20000 + Math.floor(Math.random() * 40000);
        const probes = await Promise.all(Array.from({ length: count }, (_, i) => new Promise((resolve) => {
            const server = net.createServer();
            server.once('error', () => resolve(false));
            server.listen(base + i, '127.0.0.1', () => server.close(() => resolve(true)));
        })));
        if (probes.every(Boolean))
            return base;
    }
}

function listen(port, handler) {
    const server = http.createServer(handler);
    servers.push(server);
    return new Promise((resolve, reject) => {
        server.once('error', reject);
        server.listen(port, '127.0.0.1', resolve);
    });
}

const body = (request) => new Promise((resolve) => {
    let text = '';
    request.on('data', (chunk) => { text += chunk; });
    request.on('end', () => resolve(text));
});

test('no service on a range of closed ports: a clear error, quickly', async () => {
    const start = await closedPorts(6);
    const began = Date.now();
    await assert.rejects(connect({ ports: { start, end: start + 5 }, road: 'http', probeTimeout: 2000 }), (error) =>
        error.code === 'no-service' && error.message.includes(`${start}..${start + 5}`));
    // Six probes that each waited out their 2 s would take 12 s.
    assert.ok(Date.now() - began < 6000, 'refused ports do not wait for the probe timeout');
});

test('the first port that answers as the service is taken; one that answers otherwise is passed over', async () => {
    const start = await closedPorts(4);
    const uuid = '{' + crypto.randomUUID() + '}';
    const seen = [];
    // start: closed; start + 1: a web server of another kind; start + 2: the service; start + 3: closed.
    await listen(start + 1, (request, response) => response.end('<html>not it</html>'));
    await listen(start + 2, async (request, response) => {
        const command = JSON.parse(await body(request));
        seen.push(command.cmd);
        response.setHeader('Access-Control-Allow-Origin', '*');
        if (command.cmd === 'system.webconnect')
            response.end(JSON.stringify({ errorModule: 0, errorCode: 0, uuid, version: '1.0' }));
        else if (command.cmd === 'system.get')
            setTimeout(() => response.end('timeout'), 50);
        else if (command.cmd === 'system.disconnect')
            response.end('disconnect');
        else
            response.end(JSON.stringify({ sequence: command.sequence, uuid: command.uuid, errorCode: 0 }));
    });
    const session = await connect({ ports: { start, end: start + 3 }, road: ['websocket', 'http'],
        WebSocket: undefined, fetch: globalThis.fetch, probeTimeout: 1000 });
    assert.equal(session.port, start + 2);
    assert.equal(session.road.kind, 'http');
    assert.equal(session.uuid, uuid);
    assert.equal((await session.command('window.getLocalServiceVersion')).uuid, uuid);
    await session.close();
    assert.equal(seen[0], 'system.webconnect');
    assert.equal(seen.at(-1), 'system.disconnect');

    // A page check that cannot run (no Web Crypto digests outside secure contexts) leaves no session behind.
    seen.length = 0;
    await assert.rejects(connect({ ports: { start: start + 2 }, road: 'http', fetch: globalThis.fetch,
        crypto: { getRandomValues: () => {} }, detect: { user: 'u', iterations: 1, challenge: 'c', random: 1 } }),
    (error) => error.code === 'transport' && /page check could not run/.test(error.message));
    assert.equal(seen[0], 'system.webconnect');
    assert.equal(seen.at(-1), 'system.disconnect');
});

test('port ranges are checked and bounded', () => {
    assert.deepEqual(portsOf(), Array.from({ length: 10 }, (_, i) => 33686 + i));
    assert.deepEqual(portsOf({ start: 5000 }), [5000]);
    for (const range of [{ start: 0, end: 3 }, { start: 10, end: 5 }, { start: 1, end: 70000 }, { start: 1000, end: 5000 }])
        assert.throws(() => portsOf(range), RangeError);
});

test('the page digest is the HMAC the service recomputes', async () => {
    const login = { user: 'web user', iterations: 3, challenge: 'beef', random: '-17' };
    const key = crypto.createHash('sha256').update('web user3beef').digest('hex');
    const expected = crypto.createHmac('sha256', key)
        .update('GET/DEVAPI/Security/sessionLogin/capabilitiesweb user-17').digest('hex');
    assert.equal(await pageDigest(login, webcrypto.subtle), expected);
});

test('a pinned port is the only one probed; the last good port is probed first', async () => {
    const start = await closedPorts(3);
    const asked = [];
    const service = (port) => listen(port, async (request, response) => {
        const command = JSON.parse(await body(request));
        asked.push(`${command.cmd} ${port}`);
        response.setHeader('Access-Control-Allow-Origin', '*');
        if (command.cmd === 'system.webconnect')
            response.end(JSON.stringify({ errorModule: 0, errorCode: 0, uuid: '{' + crypto.randomUUID() + '}', version: '1.0' }));
        else
            response.end(command.cmd === 'system.disconnect' ? 'disconnect' : 'timeout');
    });
    await service(start + 1);
    await service(start + 2);
    const stored = new Map();
    const storage = { getItem: (key) => stored.get(key) ?? null, setItem: (key, value) => stored.set(key, value) };
    const open = async (ports) => {
        asked.length = 0;
        const session = await connect({ ports, road: 'http', storage, probeTimeout: 1000 });
        await session.close();
        return session.port;
    };
    const range = { start, end: start + 2 };
    assert.equal(await open(range), start + 1);
    assert.equal(await open([start + 2]), start + 2);
    assert.deepEqual(asked.filter((line) => line.startsWith('system.webconnect')), [`system.webconnect ${start + 2}`]);
    // The last good port comes first, before a lower one of the range that answers too.
    assert.equal(await open(range), start + 2);
    assert.equal(asked[0], `system.webconnect ${start + 2}`);
    for (const ports of [[], [0], [70000], Array.from({ length: 1025 }, (_, i) => 1000 + i)])
        assert.throws(() => portsOf(ports), RangeError);
});
