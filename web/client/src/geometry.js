// Rectangle arithmetic of plug-in windows, free of the DOM so that it runs anywhere.
//
// The service places a window with device pixels as they come and applies no scaling of its own. With
// the browser class "Chrome" on Windows the service adds the offset of Chrome's page-content area
// itself; everywhere else the page adds the offset of its content area inside the browser window
// (tab strip and toolbars above it, a border each side). contentOffset is the one place that works
// out that offset at any page zoom and device scale factor.

/** @typedef {{left: number, top: number, width: number, height: number}} Rect */
/** @typedef {{left: number, top: number, right: number, bottom: number}} Covers */

/**
 * A CSS-pixel rectangle (as getBoundingClientRect gives it) in device pixels. Edges are rounded, not
 * sizes, so that rectangles that touch in CSS pixels touch in device pixels too.
 * @param {{left: number, top: number, width: number, height: number}} css
 * @param {number} ratio devicePixelRatio
 * @param {{x: number, y: number}} [offset] device-pixel offset of the page's content area
 * @returns {Rect}
 */
export function toDeviceRect(css, ratio, offset = { x: 0, y: 0 }) {
    const r = ratio > 0 && Number.isFinite(ratio) ? ratio : 1;
    const left = Math.round(css.left * r);
    const top = Math.round(css.top * r);
    const right = Math.round((css.left + Math.max(0, css.width)) * r);
    const bottom = Math.round((css.top + Math.max(0, css.height)) * r);
    return { left: left + offset.x, top: top + offset.y, width: right - left, height: bottom - top };
}

/** The zoom levels a browser offers (Chromium's list; Firefox's steps lie within it). */
export const ZOOM_LEVELS = Object.freeze([0.25, 1 / 3, 0.5, 2 / 3, 0.75, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2, 2.5, 3, 4, 5]);

/**
 * The page's zoom: how many units of the window's outer size one CSS pixel of its inner size spans.
 * Chromium gives the outer size in device-independent pixels and the inner size in CSS pixels, so the
 * ratio is the zoom, a little above it by the window's side borders (a few pixels against hundreds):
 * the nearest zoom level is taken. Firefox gives both in CSS pixels: the ratio is 1 at any zoom.
 * @param {{outerWidth: number, innerWidth: number}} view
 * @returns {number}
 */
export function pageZoom(view) {
    const estimate = view.outerWidth / view.innerWidth;
    if (!(estimate > 0 && Number.isFinite(estimate)))
        return 1;
    const distance = (level) => Math.abs(Math.log(level / estimate));
    return ZOOM_LEVELS.reduce((best, level) => (distance(level) < distance(best) ? level : best));
}

/**
 * The offset of the page's content area inside the browser window, in device pixels: a border of
 * equal width left, right and at the bottom, the rest of the height above the content. Outer sizes
 * are scaled by the device pixels of one outer unit (devicePixelRatio over the zoom), inner sizes by
 * devicePixelRatio; at 100 % zoom both are devicePixelRatio.
 * @param {{outerWidth: number, outerHeight: number, innerWidth: number, innerHeight: number}} view
 * @param {number} ratio devicePixelRatio
 * @returns {{x: number, y: number}}
 */
export function contentOffset(view, ratio) {
    const r = ratio > 0 && Number.isFinite(ratio) ? ratio : 1;
    const outer = r / pageZoom(view);
    const border = Math.max(0, (view.outerWidth * outer - view.innerWidth * r) / 2);
    const top = Math.max(0, view.outerHeight * outer - view.innerHeight * r - border);
    return { x: Math.round(border), y: Math.round(top) };
}

/**
 * The intersection of two rectangles, or null when they do not overlap.
 * @param {Rect} a
 * @param {Rect} b
 * @returns {Rect|null}
 */
export function intersect(a, b) {
    const left = Math.max(a.left, b.left);
    const top = Math.max(a.top, b.top);
    const right = Math.min(a.left + a.width, b.left + b.width);
    const bottom = Math.min(a.top + a.height, b.top + b.height);
    if (right <= left || bottom <= top)
        return null;
    return { left, top, width: right - left, height: bottom - top };
}

/**
 * How much of the element's rectangle lies outside the visible part of the page on each side.
 * @param {Rect} element
 * @param {Rect} viewport
 * @returns {Covers|null} null when nothing of the element is visible
 */
export function coversFor(element, viewport) {
    const visible = intersect(element, viewport);
    if (!visible)
        return null;
    return {
        left: visible.left - element.left,
        top: visible.top - element.top,
        right: element.left + element.width - (visible.left + visible.width),
        bottom: element.top + element.height - (visible.top + visible.height),
    };
}

/** @param {Rect} rect @param {Covers} covers @returns {Rect} */
export function shrink(rect, covers) {
    return {
        left: rect.left + covers.left,
        top: rect.top + covers.top,
        width: Math.max(0, rect.width - covers.left - covers.right),
        height: Math.max(0, rect.height - covers.top - covers.bottom),
    };
}

export const noCovers = Object.freeze({ left: 0, top: 0, right: 0, bottom: 0 });
const sides = ['left', 'right', 'top', 'bottom'];

/**
 * The window commands that bring a window from its previous covers to the element's rectangle with
 * new covers. The service's cover command moves the window by the difference between the new and the
 * old cover of that side, so the geometry sent first is the element's rectangle shrunk by the old
 * covers; each changed cover then takes the window to the visible part.
 * @param {Rect} element the whole rectangle of the element, device pixels
 * @param {Covers} previous covers the service holds now
 * @param {Covers} next covers wanted
 * @returns {Array<{cmd: string, args: object}>}
 */
export function placementSteps(element, previous, next) {
    const steps = [{ cmd: 'window.setWndGeometry', args: { rect: shrink(element, previous) } }];
    for (const side of sides) {
        if (previous[side] !== next[side])
            steps.push({ cmd: 'window.setWndCover', args: { position: side, size: next[side] } });
    }
    return steps;
}

/**
 * The hole to cut for one overlapping page element, in the coordinates of the window's own region
 * (relative to the window's top-left corner); null when it does not overlap the window.
 * @param {Rect} windowRect where the window is (the visible part of its element)
 * @param {Rect} element the overlapping element
 * @returns {Rect|null}
 */
export function holeIn(windowRect, element) {
    const overlap = intersect(windowRect, element);
    if (!overlap)
        return null;
    return { left: overlap.left - windowRect.left, top: overlap.top - windowRect.top,
        width: overlap.width, height: overlap.height };
}

/** @param {Rect|null} a @param {Rect|null} b */
export function sameRect(a, b) {
    if (!a || !b)
        return a === b;
    return a.left === b.left && a.top === b.top && a.width === b.width && a.height === b.height;
}
