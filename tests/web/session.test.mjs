// Commands matched to answers, timeouts, events, the long-poll loop and the session's end, over
// stand-in roads that answer the way the service does.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { LocalServiceError, PendingAnswers, Session } from '../../web/client/src/index.js';

const tick = (ms = 0) => new Promise((resolve) => setTimeout(resolve, ms));

/** A WebSocket road whose sent texts the test reads and answers. */
function socketRoad() {
    return {
        kind: 'websocket', sent: [], closed: false, onText() {}, onClose() {},
        send(text) { if (this.closed) throw new Error('closed'); this.sent.push(JSON.parse(text)); },
        close() { this.closed = true; this.onClose(); },
    };
}

/** An exchange road: each text out is answered by the test's answer function. */
function exchangeRoad(answer) {
    return { kind: 'http', sent: [], async exchange(text) { const request = JSON.parse(text); this.sent.push(request); return answer(request); } };
}

test('answers find their commands by sequence, out of order; texts without one go to the oldest', async () => {
    const road = socketRoad();
    const session = new Session(road, { uuid: '{u}', port: 1, commandTimeout: 1000 });
    const first = session.command('window.getLocalServiceVersion');
    const second = session.command('video.startPlay', { url: 'rtsp://x' });
    const third = session.command('video.setPlayMode');
    assert.deepEqual(road.sent.map((r) => [r.cmd, r.uuid]), [['window.getLocalServiceVersion', '{u}'],
        ['video.startPlay', '{u}'], ['video.setPlayMode', '{u}']]);
    assert.equal(road.sent[1].url, 'rtsp://x');
    assert.equal(new Set(road.sent.map((r) => r.sequence)).size, 3);
    road.onText(JSON.stringify({ sequence: road.sent[1].sequence, errorCode: 0, playing: true }));
    road.onText('');
    road.onText(JSON.stringify({ errorCode: 0, errorModule: '' }));
    assert.deepEqual(await second, { sequence: road.sent[1].sequence, errorCode: 0, playing: true });
    assert.equal(await first, '');
    assert.deepEqual(await third, { errorCode: 0, errorModule: '' });
});

test('a command without an answer times out and leaves the next answer to the next command', async () => {
    const pending = new PendingAnswers();
    const lost = pending.wait('a', 20);
    const kept = pending.wait('b', 1000);
    await assert.rejects(lost, (error) => error instanceof LocalServiceError && error.code === 'timeout');
    assert.equal(pending.size, 1);
    assert.ok(pending.settle(''));
    assert.equal(await kept, '');
    assert.equal(pending.settle('{"sequence":"zz"}'), false);

    // A command answered later from another thread does not take the answers of those sent after it.
    const points = pending.wait('p', 1000, true);
    const next = pending.wait('q', 1000);
    assert.ok(pending.settle(''));
    assert.equal(await next, '');
    assert.equal(pending.settle(''), false);
    assert.ok(pending.settle('{"sequence":"p","points":[]}'));
    assert.deepEqual(await points, { sequence: 'p', points: [] });
});

test('events reach their handlers and "*" but not answers; off removes a handler; a throwing handler does not stop others', async () => {
    const road = socketRoad();
    const session = new Session(road, { uuid: '{u}', port: 1 });
    const seen = [];
    const selected = (event) => seen.push(['selected', event.cell]);
    session.on('window.onGetSelectWndInfo', () => { throw new Error('page bug'); });
    session.on('window.onGetSelectWndInfo', selected);
    session.on('*', (event) => seen.push(['any', event.cmd]));
    const errors = console.error;
    console.error = () => {};
    try {
        road.onText(JSON.stringify({ cmd: 'window.onGetSelectWndInfo', uuid: '{u}', cell: 2 }));
        road.onText(JSON.stringify({ cmd: 'video.onDrawCallback', uuid: '{u}' }));
        session.off('window.onGetSelectWndInfo', selected);
        road.onText(JSON.stringify({ cmd: 'window.onGetSelectWndInfo', uuid: '{u}', cell: 3 }));
    } finally {
        console.error = errors;
    }
    assert.deepEqual(seen, [['selected', 2], ['any', 'window.onGetSelectWndInfo'], ['any', 'video.onDrawCallback'],
        ['any', 'window.onGetSelectWndInfo']]);
});

test('closing rejects waiting commands and refuses new ones with a clear error', async () => {
    const road = socketRoad();
    const session = new Session(road, { uuid: '{u}', port: 1 });
    const closes = [];
    session.on('close', (info) => closes.push(info.reason));
    const waiting = session.command('video.startPlay');
    await session.close();
    assert.ok(road.closed);
    await assert.rejects(waiting, { code: 'closed' });
    await assert.rejects(session.command('video.stop'), (error) =>
        error.code === 'closed' && /session is closed; video\.stop was not sent/.test(error.message));
    assert.equal(closes.length, 1);

    // The socket closing under the session ends it the same way.
    const road2 = socketRoad();
    const dropped = new Session(road2, { uuid: '{v}', port: 1 });
    const lost = dropped.command('window.showWnd');
    road2.close();
    await assert.rejects(lost, { code: 'closed' });
    assert.ok(dropped.closed);
});

test('the long-poll loop delivers events, polls again on "timeout", renews an expired session and stops on "disconnect"', async () => {
    const answers = ['timeout', JSON.stringify({ cmd: 'window.onPluginEventHandler', uuid: '{a}', n: 1 }),
        'invalid', JSON.stringify({ errorModule: 0, errorCode: 0, uuid: '{b}', version: '1.0' }),
        JSON.stringify({ cmd: 'window.onPluginEventHandler', uuid: '{b}', n: 2 }), 'disconnect'];
    const road = exchangeRoad(async () => answers.shift() ?? new Promise(() => {}));
    const session = new Session(road, { uuid: '{a}', port: 1, backoff: { initial: 1, max: 4 } });
    const events = [];
    const renewals = [];
    session.on('window.onPluginEventHandler', (event) => events.push(event.n));
    session.on('reconnect', (info) => renewals.push(info));
    const closed = new Promise((resolve) => session.on('close', resolve));
    await closed;
    assert.deepEqual(events, [1, 2]);
    assert.deepEqual(renewals, [{ uuid: '{b}', previous: '{a}' }]);
    assert.deepEqual(road.sent.map((r) => `${r.cmd} ${r.uuid ?? ''}`), ['system.get {a}', 'system.get {a}',
        'system.get {a}', 'system.webconnect ', 'system.get {b}', 'system.get {b}']);
    await assert.rejects(session.command('video.stop'), { code: 'closed' });
});

test('the long-poll loop backs off while the service is unreachable and comes back', async () => {
    let failures = 4;
    const times = [];
    const road = exchangeRoad(async (request) => {
        times.push(Date.now());
        if (request.cmd === 'system.disconnect')
            return 'disconnect';
        if (failures-- > 0)
            throw new LocalServiceError('transport', 'refused');
        return new Promise(() => {});
    });
    const session = new Session(road, { uuid: '{a}', port: 1, backoff: { initial: 20, max: 40 } });
    const errors = [];
    session.on('error', (error) => errors.push(error.code));
    await tick(250);
    assert.deepEqual(errors, ['transport', 'transport', 'transport', 'transport']);
    const gaps = times.slice(1, 5).map((t, i) => t - times[i]);
    assert.ok(gaps[0] >= 15 && gaps[1] >= 35 && gaps[2] >= 35, `waits ${gaps}`);
    await session.close();
    assert.deepEqual(road.sent.at(-1), { cmd: 'system.disconnect', uuid: '{a}' });
});

test('over HTTP a command resolves with its own answer; the service\'s no-answer "timeout" rejects', async () => {
    const road = exchangeRoad(async (request) => {
        if (request.cmd === 'system.get')
            return new Promise(() => {});
        if (request.cmd === 'video.unknown')
            return 'timeout';
        if (request.cmd === 'video.setPlayMode')
            return '';
        return JSON.stringify({ sequence: request.sequence, uuid: request.uuid, errorCode: 0 });
    });
    const session = new Session(road, { uuid: '{h}', port: 1 });
    const [version, empty] = await Promise.all([session.command('window.getLocalServiceVersion'),
        session.command('video.setPlayMode')]);
    assert.equal(version.uuid, '{h}');
    assert.equal(empty, '');
    await assert.rejects(session.command('video.unknown'), { code: 'timeout' });
    session.ended('test over');
});

test('nothing but this session\'s own events and answers reaches the page', async () => {
    const road = socketRoad();
    const session = new Session(road, { uuid: '{u}', port: 1, commandTimeout: 1000 });
    const fired = [];
    for (const name of ['close', 'error', 'reconnect', 'reconnecting', 'reconnected', '*', 'window.onGetSelectWndInfo'])
        session.on(name, (value) => fired.push([name, value?.cmd ?? value]));
    const waiting = session.command('window.getLocalServiceVersion');
    const sequence = road.sent[0].sequence;
    assert.match(sequence, /^ls[0-9a-f]{16}-\d+$/, 'a sequence a third party cannot guess');
    const impostors = [
        { cmd: 'window.onGetSelectWndInfo', uuid: '{other}', wndIndex: 1 }, // another session's event
        { cmd: 'window.onGetSelectWndInfo', wndIndex: 1 }, // an event of no session
        { cmd: 'close', uuid: '{u}', reason: 'forged' }, // the session's own events, by name
        { cmd: 'error', uuid: '{u}' },
        { cmd: 'reconnecting', uuid: '{u}' },
        { cmd: '.close', uuid: '{u}' },
        { sequence, uuid: '{other}', errorCode: 0, forged: true }, // an answer under another identifier
        { sequence: 'ls1', uuid: '{u}', errorCode: 0, forged: true }, // an answer to a command someone else sent
    ];
    for (const text of impostors)
        road.onText(JSON.stringify(text));
    assert.deepEqual(fired, []);
    assert.equal(session.closed, false);
    road.onText(JSON.stringify({ sequence, uuid: '{u}', errorCode: 0, localServiceVersion: '1.0.0.40' }));
    assert.equal((await waiting).localServiceVersion, '1.0.0.40');
    road.onText(JSON.stringify({ cmd: 'window.onGetSelectWndInfo', uuid: '{u}', wndIndex: 2 }));
    assert.deepEqual(fired, [['window.onGetSelectWndInfo', 'window.onGetSelectWndInfo'], ['*', 'window.onGetSelectWndInfo']]);

    // Over the HTTP roads the same: a long-poll answer with another session's event is dropped.
    const answers = [JSON.stringify({ cmd: 'video.onX', uuid: '{other}' }), JSON.stringify({ cmd: 'close', uuid: '{h}' }),
        JSON.stringify({ cmd: 'video.onX', uuid: '{h}', n: 1 }), 'disconnect'];
    const polled = new Session(exchangeRoad(async () => answers.shift() ?? new Promise(() => {})), { uuid: '{h}', port: 1 });
    const seen = [];
    polled.on('*', (event) => seen.push(event.n));
    polled.on('close', ({ reason }) => seen.push(reason));
    await new Promise((resolve) => polled.on('close', resolve));
    assert.deepEqual(seen, [1, 'the service ended the session']);
});

test('a WebSocket lost under the session reconnects with back-off and repeats the layout and the streams', async () => {
    const roads = [];
    let refusals = 2;
    const reopen = async () => {
        if (refusals-- > 0)
            throw new LocalServiceError('no-service', 'not yet');
        const road = socketRoad();
        // The new service answers every command at once, under the new identifier.
        road.send = function (text) { const r = JSON.parse(text); this.sent.push(r); queueMicrotask(() => this.onText(JSON.stringify({ sequence: r.sequence, uuid: r.uuid, errorCode: 0 }))); };
        roads.push(road);
        return { road, reply: { uuid: '{new}' }, port: 7 };
    };
    const first = socketRoad();
    first.send = function (text) { const r = JSON.parse(text); this.sent.push(r); queueMicrotask(() => this.onText(JSON.stringify({ sequence: r.sequence, uuid: r.uuid, errorCode: r.cmd === 'video.startPlay' && r.wndIndex === 3 ? 7 : 0 }))); };
    const session = new Session(first, { uuid: '{old}', port: 6, reopen, backoff: { initial: 10, max: 20 } });
    const heard = [];
    session.on('reconnecting', ({ attempt }) => heard.push(`reconnecting ${attempt}`));
    session.on('reconnected', ({ uuid, previous, port }) => heard.push(`reconnected ${previous} -> ${uuid} on ${port}`));
    session.on('close', () => heard.push('close'));
    await session.command('video.arrangeWindow', { windowNum: 9 });
    await session.command('video.arrangeWindow', { windowNum: 4 });
    await session.command('video.setReconnectInfo', { attempts: -1, interval: 1000 });
    await session.command('video.startPlay', { wndIndex: 0, url: 'rtsp://a' });
    await session.command('video.startPlay', { wndIndex: 1, url: 'rtsp://b' });
    await session.command('video.startPlay', { wndIndex: 2, url: 'rtsp://c' });
    await session.command('video.stop', { wndIndex: 1 });
    await session.command('video.startPlay', { wndIndex: 3, url: 'rtsp://refused' }); // errorCode 7: not repeated
    first.onClose(); // the service went away
    await assert.rejects(session.command('video.stop'), { code: 'transport' });
    const reconnected = new Promise((resolve) => session.on('reconnected', resolve));
    await reconnected;
    for (let i = 0; i < 2000 && roads[0].sent.length < 4; ++i)
        await tick(5);
    assert.deepEqual(heard, ['reconnecting 1', 'reconnecting 2', 'reconnecting 3', 'reconnected {old} -> {new} on 7']);
    assert.equal(session.uuid, '{new}');
    assert.deepEqual(roads[0].sent.map(({ cmd, uuid, windowNum, url, attempts }) => [cmd, uuid, windowNum ?? url ?? attempts]), [
        ['video.arrangeWindow', '{new}', 4], ['video.setReconnectInfo', '{new}', -1],
        ['video.startPlay', '{new}', 'rtsp://a'], ['video.startPlay', '{new}', 'rtsp://c']]);

    // A step of the replay that fails is reported, and the streams are still asked for.
    const quiet = socketRoad();
    const renewed = socketRoad();
    renewed.send = function (text) { const r = JSON.parse(text); this.sent.push(r); if (r.cmd !== 'video.arrangeWindow') queueMicrotask(() => this.onText(JSON.stringify({ sequence: r.sequence, uuid: r.uuid, errorCode: 0 }))); };
    const patient = new Session(quiet, { uuid: '{q}', port: 6, commandTimeout: 30, backoff: { initial: 10, max: 20 },
        reopen: async () => ({ road: renewed, reply: { uuid: '{r}' }, port: 6 }) });
    quiet.send = function (text) { const r = JSON.parse(text); this.sent.push(r); queueMicrotask(() => this.onText(JSON.stringify({ sequence: r.sequence, uuid: r.uuid, errorCode: 0 }))); };
    await patient.command('video.arrangeWindow', { windowNum: 4 });
    await patient.command('video.startPlay', { wndIndex: 0, url: 'rtsp://a' });
    const errors = [];
    patient.on('error', (error) => errors.push(error.code));
    quiet.onClose();
    for (let i = 0; i < 2000 && renewed.sent.length < 2; ++i)
        await tick(5);
    assert.deepEqual(renewed.sent.map(({ cmd }) => cmd), ['video.arrangeWindow', 'video.startPlay']);
    assert.deepEqual(errors, ['timeout']);
    patient.ended('test over');

    // Closed by the page it stays closed; a service that never comes back ends the session in time.
    await session.close();
    assert.deepEqual(heard.slice(4), ['close']);
    const gone = socketRoad();
    const lost = new Session(gone, { uuid: '{x}', port: 6, reconnectFor: 60, backoff: { initial: 10, max: 20 },
        reopen: async () => { throw new LocalServiceError('no-service', 'gone'); } });
    const ended = new Promise((resolve) => lost.on('close', resolve));
    gone.onClose();
    assert.match((await ended).reason, /did not answer again within 60 ms/);
});
