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
