// Creating a plug-in window: the service is asked again while the browser's title has not reached its
// native window, within a bound, and what cannot work says so with a typed error.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { Session } from '../../web/client/src/index.js';

/** The little of a browser page that attaching needs, at 100 % zoom and ratio 1. */
function fakePage({ framed = false } = {}) {
    const noop = () => {};
    const view = {
        navigator: { userAgent: 'Mozilla/5.0 (X11; Linux x86_64) Chrome/156.0.0.0' },
        devicePixelRatio: 1, outerWidth: 900, outerHeight: 700, innerWidth: 892, innerHeight: 553,
        requestAnimationFrame: (callback) => setTimeout(callback, 0),
        ResizeObserver: class { observe() {} disconnect() {} },
        MutationObserver: class { observe() {} disconnect() {} },
        addEventListener: noop, removeEventListener: noop,
        getComputedStyle: () => ({ overflowX: 'visible', overflowY: 'visible' }),
    };
    view.top = framed ? {} : view;
    const document = { title: 'Cameras', defaultView: view, visibilityState: 'visible', documentElement: { clientWidth: 892, clientHeight: 553 },
        addEventListener: noop, removeEventListener: noop, querySelectorAll: () => [] };
    const element = { ownerDocument: document, getBoundingClientRect: () => ({ left: 10, top: 20, width: 320, height: 180 }) };
    return { document, element };
}

/** A session whose service answers createWnd with 5001 until the browser's title has "arrived". */
function serviceSession(titleArrivesAfterMs) {
    const started = Date.now();
    const road = {
        kind: 'websocket', sent: [], onText() {}, onClose() {}, close() {},
        send(text) {
            const request = JSON.parse(text);
            this.sent.push({ ...request, at: Date.now() - started, title: this.document?.title });
            const found = request.cmd !== 'window.createWnd' || Date.now() - started >= titleArrivesAfterMs;
            const answer = { sequence: request.sequence, uuid: request.uuid, errorModule: found ? 0 : 5, errorCode: found ? 0 : 5001 };
            setTimeout(() => this.onText(JSON.stringify(answer)), 1);
        },
    };
    return { road, session: new Session(road, { uuid: '{0b8e1b36-0000-4000-8000-000000000001}', port: 1 }) };
}

test('createWnd is asked again until the browser window carries the title, the title held meanwhile', async () => {
    const { road, session } = serviceSession(300);
    const page = fakePage();
    road.document = page.document;
    const window = await session.attach(page.element);
    const creates = road.sent.filter((r) => r.cmd === 'window.createWnd');
    assert.ok(creates.length >= 3, `${creates.length} tries`);
    assert.ok(creates.every((r) => r.title === session.uuid), 'the title holds the session while the service looks');
    assert.deepEqual(window.answer.errorCode, 0);
    assert.equal(page.document.title, 'Cameras');
    // The element's rectangle with the content area's offset: a border of 4 and 143 above.
    assert.deepEqual(creates[0].rect, { left: 14, top: 163, width: 320, height: 180 });
    assert.equal(creates[0].className, 'Chrome');
    window.release();
});

test('no browser window within about 2 s: a typed error with a hint, and nothing left at the service', async () => {
    const { road, session } = serviceSession(Infinity);
    const page = fakePage();
    const began = Date.now();
    await assert.rejects(session.attach(page.element), (error) => error.code === 'browser-window-not-found' &&
        error.answer.errorCode === 5001 && /Wayland/.test(error.hint) && /tries in/.test(error.message));
    const took = Date.now() - began;
    assert.ok(took >= 1900 && took < 3500, `${took} ms`);
    assert.ok(road.sent.filter((r) => r.cmd === 'window.createWnd').length <= 8, 'a few tries, not a busy loop');
    assert.equal(road.sent.at(-1).cmd, 'window.destroyWnd');
    assert.equal(page.document.title, 'Cameras');
});

test('a page in a frame cannot have a native window: said at once, nothing sent', async () => {
    const { road, session } = serviceSession(0);
    await assert.rejects(session.attach(fakePage({ framed: true }).element), { code: 'native-window-unavailable' });
    assert.deepEqual(road.sent, []);
});
