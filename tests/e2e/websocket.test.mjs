// The WebSocket road with the ws client from npm.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import WebSocket from 'ws';
import { pageDigest, startService } from './service-process.mjs';

let service;
before(async () => { service = await startService(); });
after(() => service.stop());

// A client that hands out its messages in order.
async function open() {
    const socket = new WebSocket(`ws://127.0.0.1:${service.port}/`);
    const messages = [];
    const waiters = [];
    socket.on('message', (data, isBinary) => {
        assert.equal(isBinary, false);
        const text = data.toString();
        const waiter = waiters.shift();
        if (waiter)
            waiter(text);
        else
            messages.push(text);
    });
    await new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); });
    const next = (ms = 5000) => new Promise((resolve, reject) => {
        if (messages.length)
            return resolve(messages.shift());
        const timer = setTimeout(() => reject(new Error('no message')), ms);
        waiters.push((text) => { clearTimeout(timer); resolve(text); });
    });
    const send = (object) => socket.send(typeof object === 'string' ? object : JSON.stringify(object));
    return { socket, next, send, pending: () => messages.length };
}

test('connect, version, detectport and routing by uuid', async () => {
    const a = await open();
    const b = await open();
    a.send({ cmd: 'system.webconnect' });
    b.send({ cmd: 'system.webconnect' });
    const replyText = await a.next();
    const reply = JSON.parse(replyText);
    assert.deepEqual(Object.keys(reply).sort(), ['errorCode', 'errorModule', 'uuid', 'version']);
    assert.match(reply.uuid, /^\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\}$/);
    assert.equal(replyText, JSON.stringify({ errorCode: 0, errorModule: 0, uuid: reply.uuid, version: '1.0' }));
    const uuidB = JSON.parse(await b.next()).uuid;
    assert.notEqual(uuidB, reply.uuid);

    a.send({ cmd: 'window.getLocalServiceVersion', uuid: reply.uuid, sequence: 42 });
    assert.deepEqual(JSON.parse(await a.next()), {
        errorCode: 0, errorModule: 0, localServiceVersion: '1.0.0.40', sequence: '', uuid: reply.uuid,
    });

    // Answered on the socket of the session the "uuid" names.
    a.send({ cmd: 'window.getLocalServiceVersion', uuid: uuidB, sequence: 'to b' });
    assert.equal(JSON.parse(await b.next()).sequence, 'to b');

    const login = { user: 'operator', iterations: 7, challenge: 'f00d', random: 123456 };
    a.send({ cmd: 'detectport', sessionID: pageDigest(login), ...login, random: String(login.random) });
    assert.equal(JSON.parse(await a.next()).errorCode, 0);
    a.send({ cmd: 'detectport', sessionID: pageDigest({ ...login, random: 1 }), ...login, random: '123456' });
    const rejected = JSON.parse(await a.next());
    assert.deepEqual(rejected, { errorCode: -1, errorModule: 0, uuid: reply.uuid, version: '1.0' });

    // Dropped without an answer: the next answer is the version.
    for (const text of ['{', '[]', JSON.stringify({ cmd: 'Window.getLocalServiceVersion', uuid: reply.uuid })])
        a.send(text);
    a.send({ cmd: 'window.getLocalServiceVersion', uuid: reply.uuid, sequence: 'last' });
    assert.equal(JSON.parse(await a.next()).sequence, 'last');
    assert.equal(a.pending() + b.pending(), 0);
    a.socket.close();
    b.socket.close();
});
