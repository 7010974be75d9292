// Rectangle arithmetic: CSS to device pixels, content offsets, covers and the commands that reach
// them under the service's cover rules, holes in window coordinates.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { contentOffset, coversFor, holeIn, noCovers, pageZoom, placementSteps, shrink, toDeviceRect } from '../../web/client/src/geometry.js';

test('CSS rectangles become device rectangles with rounded edges and the content offset', () => {
    const cases = [
        [{ left: 10, top: 20, width: 300, height: 200 }, 1, undefined, { left: 10, top: 20, width: 300, height: 200 }],
        [{ left: 10, top: 20, width: 300, height: 200 }, 2, undefined, { left: 20, top: 40, width: 600, height: 400 }],
        // 1.25: edges 12.5 -> 13 and 387.5 -> 388, so the width is 375, not round(375.0).
        [{ left: 10, top: 10.4, width: 300, height: 99.6 }, 1.25, undefined, { left: 13, top: 13, width: 375, height: 125 }],
        [{ left: -50, top: -8, width: 100, height: 16 }, 1.5, { x: 8, y: 90 }, { left: -67, top: 78, width: 150, height: 24 }],
        [{ left: 0, top: 0, width: -5, height: 10 }, 1, undefined, { left: 0, top: 0, width: 0, height: 10 }],
        [{ left: 1, top: 2, width: 3, height: 4 }, 0, undefined, { left: 1, top: 2, width: 3, height: 4 }],
    ];
    for (const [css, ratio, offset, expected] of cases)
        assert.deepEqual(toDeviceRect(css, ratio, offset), expected, JSON.stringify([css, ratio]));
    // Neighbours stay neighbours at a fractional ratio.
    const a = toDeviceRect({ left: 0, top: 0, width: 33.3, height: 1 }, 1.5);
    const b = toDeviceRect({ left: 33.3, top: 0, width: 33.3, height: 1 }, 1.5);
    assert.equal(a.left + a.width, b.left);
    assert.deepEqual(contentOffset({ outerWidth: 1296, outerHeight: 900, innerWidth: 1280, innerHeight: 780 }, 1.25),
        { x: 10, y: 140 });
    assert.deepEqual(contentOffset({ outerWidth: 0, outerHeight: 0, innerWidth: 800, innerHeight: 600 }, 1),
        { x: 0, y: 0 });
});

// What Chromium 156 reports in a 900 x 700 window whose content area lies 4 pixels in from the sides and
// 143 below the top at 100 % and ratio 1 (the outer size in device-independent pixels, the inner one in
// CSS pixels); the offset scales with the device scale factor, whatever the zoom.
test('the content offset at any zoom and device scale factor', () => {
    const cases = [
        // zoom, scale, innerWidth, innerHeight
        [1, 1, 892, 553], [1.25, 1, 714, 442], [0.5, 1, 1784, 1106], [2 / 3, 1, 1338, 830], [2, 1, 446, 277],
        [1, 2, 892, 553], [1.5, 2, 594, 368], [1.25, 2, 714, 442], [1.1, 1.5, 811, 503],
    ];
    for (const [zoom, scale, innerWidth, innerHeight] of cases) {
        const view = { outerWidth: 900, outerHeight: 700, innerWidth, innerHeight };
        const label = `zoom ${zoom}, scale ${scale}`;
        assert.equal(pageZoom(view), zoom, label);
        const offset = contentOffset(view, zoom * scale);
        // The inner sizes come in whole CSS pixels: up to half a device pixel ratio lost to rounding.
        const slack = 1 + zoom * scale / 2;
        assert.ok(Math.abs(offset.x - 4 * scale) <= slack && Math.abs(offset.y - 143 * scale) <= slack,
            `${label}: ${JSON.stringify(offset)}`);
    }
    // Firefox gives both sizes in CSS pixels: its ratio is 1 at any zoom, and so is its zoom here.
    assert.deepEqual(contentOffset({ outerWidth: 720, outerHeight: 560, innerWidth: 712, innerHeight: 442 }, 1.25),
        { x: 5, y: 143 });
});

// The service's side: setWndGeometry takes the rectangle as it is; setWndCover moves the edge of its side
// by the difference between the new and the old cover and keeps the new one.
function applyLikeTheService(state, steps) {
    for (const { cmd, args } of steps) {
        if (cmd === 'window.setWndGeometry') {
            state.rect = { ...args.rect };
            continue;
        }
        const { position, size } = args;
        const old = state.covers[position];
        const r = state.rect;
        if (position === 'left')
            state.rect = { ...r, left: r.left + size - old, width: r.width + old - size };
        else if (position === 'right')
            state.rect = { ...r, width: r.width + old - size };
        else if (position === 'top')
            state.rect = { ...r, top: r.top + size - old, height: r.height + old - size };
        else
            state.rect = { ...r, height: r.height + old - size };
        state.covers = { ...state.covers, [position]: size };
    }
}

test('placement steps bring the service window to the visible part of the element, scroll after scroll', () => {
    const viewport = { left: 0, top: 0, width: 800, height: 600 };
    const state = { rect: { left: 100, top: 100, width: 400, height: 300 }, covers: { ...noCovers } };
    let held = noCovers;
    // The element scrolls up past the top, is resized while cut, goes off to the left and comes back.
    for (const element of [
        { left: 100, top: 100, width: 400, height: 300 },
        { left: 100, top: -40, width: 400, height: 300 },
        { left: 100, top: -120, width: 400, height: 300 },
        { left: 100, top: -120, width: 500, height: 320 },
        { left: -60, top: 400, width: 500, height: 320 },
        { left: 500, top: 500, width: 400, height: 300 },
        { left: 100, top: 100, width: 400, height: 300 },
    ]) {
        const covers = coversFor(element, viewport);
        applyLikeTheService(state, placementSteps(element, held, covers));
        held = covers;
        assert.deepEqual(state.covers, covers, JSON.stringify(element));
        assert.deepEqual(state.rect, shrink(element, covers), JSON.stringify(element));
    }
    assert.deepEqual(coversFor({ left: 100, top: 100, width: 10, height: 10 }, viewport), noCovers);
    assert.equal(coversFor({ left: 0, top: -300, width: 10, height: 300 }, viewport), null);
    // Unchanged covers: one geometry step, no cover step.
    assert.deepEqual(placementSteps({ left: 1, top: 2, width: 3, height: 4 }, noCovers, noCovers).map((s) => s.cmd),
        ['window.setWndGeometry']);
});

test('holes are cut in the window\'s own coordinates, clipped to it', () => {
    const window = { left: 100, top: 50, width: 400, height: 300 };
    assert.deepEqual(holeIn(window, { left: 150, top: 30, width: 120, height: 100 }),
        { left: 50, top: 0, width: 120, height: 80 });
    assert.deepEqual(holeIn(window, { left: 0, top: 0, width: 1000, height: 1000 }),
        { left: 0, top: 0, width: 400, height: 300 });
    assert.equal(holeIn(window, { left: 500, top: 50, width: 10, height: 10 }), null);
});

test('the content offset is the service\'s on Windows with Chrome, the page\'s elsewhere', async () => {
    const { PluginWindow } = await import('../../web/client/src/window.js');
    const view = (platform, userAgent) => ({ devicePixelRatio: 1.5, outerWidth: 1216, outerHeight: 900,
        innerWidth: 1200, innerHeight: 780, navigator: { platform, userAgent } });
    const chrome = 'Mozilla/5.0 (X11) AppleWebKit/537.36 Chrome/120.0 Safari/537.36';
    const placed = (v, options) => {
        const element = { ownerDocument: { defaultView: v }, getBoundingClientRect: () => ({ left: 10, top: 20, width: 100, height: 50 }) };
        return new PluginWindow({ windows: new Set() }, element, options).deviceRect(element);
    };
    assert.deepEqual(placed(view('Win32', chrome)), { left: 15, top: 30, width: 150, height: 75 });
    // Under X11 Chrome's page content is no window of its own: the page adds toolbars (112) and border (8).
    assert.deepEqual(placed(view('Linux x86_64', chrome)), { left: 27, top: 198, width: 150, height: 75 });
    assert.deepEqual(placed(view('Win32', 'Gecko/20100101 Firefox/120.0')), { left: 27, top: 198, width: 150, height: 75 });
    assert.deepEqual(placed(view('Linux x86_64', chrome), { offsetByService: true }), { left: 15, top: 30, width: 150, height: 75 });
});

test('holes: moved ones are repaired and cut anew, and a repair never leaves an overlapping hole filled', async () => {
    const { PluginWindow } = await import('../../web/client/src/window.js');
    const view = { devicePixelRatio: 1, navigator: { platform: 'Win32', userAgent: 'Chrome/120' } };
    const document = { defaultView: view, documentElement: { clientWidth: 1000, clientHeight: 800 } };
    const box = (left, top, width, height) => ({ ownerDocument: document, rect: { left, top, width, height },
        getBoundingClientRect() { return this.rect; } });
    const element = box(100, 100, 400, 300);
    const header = box(0, 0, 1000, 120); // lies over the window's top 20 rows
    const menu = box(150, 50, 100, 150); // reaches 100 rows into the window
    const sent = [];
    const session = { windows: new Set(), closed: false, command: async (cmd, args) => { sent.push([cmd, args.rect]); return {}; } };
    const window = new PluginWindow(session, element, { holes: [header, menu] });
    window.placed = { element: { left: 100, top: 100, width: 400, height: 300 }, covers: { left: 0, top: 0, right: 0, bottom: 0 }, visible: true };
    const r = (left, top, width, height) => ({ left, top, width, height });

    await window.place();
    assert.deepEqual(sent.splice(0), [['window.cuttingPartWindow', r(0, 0, 400, 20)],
        ['window.cuttingPartWindow', r(50, 0, 100, 100)]]);
    await window.place();
    assert.deepEqual(sent.splice(0), [], 'nothing changed, nothing sent');
    // The menu closes: its repair also fills the header's rows under it, so the header is cut again.
    window.holes = [header];
    await window.place();
    assert.deepEqual(sent.splice(0), [['window.repairPartWindow', r(50, 0, 100, 100)],
        ['window.cuttingPartWindow', r(0, 0, 400, 20)]]);
});
