// A plug-in window kept over a page element: created with the title rule, placed in the coordinates
// the service expects, following the element once per animation frame, hidden with the page, and with
// holes cut where other page elements overlap it.
import { LocalServiceError } from './errors.js';
import { delay } from './roads.js';
import { contentOffset, coversFor, holeIn, intersect, noCovers, placementSteps, sameRect, toDeviceRect } from './geometry.js';

// The service finds the browser window by its title only while "createWnd" runs, so one attach at a
// time per document owns the title.
const titleTurns = new WeakMap();

function takeTitleTurn(document, work) {
    const previous = titleTurns.get(document) || Promise.resolve();
    const turn = previous.then(work, work);
    titleTurns.set(document, turn.catch(() => {}));
    return turn;
}

const nextFrame = (view) => new Promise((resolve) => view.requestAnimationFrame(() => resolve()));

function sameCovers(a, b) {
    return a.left === b.left && a.top === b.top && a.right === b.right && a.bottom === b.bottom;
}

export class PluginWindow {
    /**
     * @param {import('./session.js').Session} session
     * @param {Element} element
     * @param {import('../index').AttachOptions} options
     */
    constructor(session, element, options = {}) {
        this.session = session;
        this.element = element;
        this.document = element.ownerDocument;
        this.view = this.document.defaultView;
        this.options = options;
        const navigator = this.view.navigator;
        this.className = options.className ?? (/Chrome\//.test(navigator.userAgent) ? 'Chrome' : '');
        // On Windows the service finds Chrome's page-content child window and adds its offset; elsewhere
        // (one native window per browser window, as under X11) the page adds its own estimate.
        const windows = /^Win/.test(navigator.userAgentData?.platform ?? navigator.platform ?? '') ||
            /^Windows/.test(navigator.userAgentData?.platform ?? '');
        this.offsetByService = options.offsetByService ?? (this.className === 'Chrome' && windows);
        this.holes = options.holes ?? [];
        this.round = options.round ?? 0;
        this.mode = 'native';
        this.released = false;
        this.hidden = false;
        this.framePending = false;
        this.placing = Promise.resolve();
        /** what the service holds now */
        this.placed = { element: null, covers: noCovers, visible: true };
        /** @type {Array<object>} cut holes in window coordinates */
        this.cuts = [];
        this.answer = undefined;
        this.onChange = () => this.schedule();
        this.onVisibility = () => this.visibilityChanged();
    }

    /** The element's rectangle in device pixels, in the coordinates the service expects. */
    deviceRect(element) {
        const ratio = this.view.devicePixelRatio || 1;
        const offset = this.offsetByService ? { x: 0, y: 0 } : contentOffset(this.view, ratio);
        return toDeviceRect(element.getBoundingClientRect(), ratio, offset);
    }

    /**
     * The part of the page where the element can be seen: the viewport, narrowed by every ancestor
     * that clips its content (a scrolling container), in device pixels.
     */
    visibleArea() {
        const root = this.document.documentElement;
        const css = (rect) => ({ getBoundingClientRect: () => rect });
        let area = this.deviceRect(css({ left: 0, top: 0, width: root.clientWidth, height: root.clientHeight }));
        for (let node = this.element.parentElement; node && node !== root && area; node = node.parentElement) {
            const style = this.view.getComputedStyle?.(node);
            if (!style || (style.overflowX === 'visible' && style.overflowY === 'visible'))
                continue;
            const box = node.getBoundingClientRect();
            area = intersect(area, this.deviceRect(css({ left: box.left + node.clientLeft, top: box.top + node.clientTop,
                width: node.clientWidth, height: node.clientHeight })));
        }
        return area || { left: 0, top: 0, width: 0, height: 0 };
    }

    holeElements() {
        if (typeof this.holes === 'string')
            return [...this.document.querySelectorAll(this.holes)];
        return [...this.holes];
    }

    /** Creates the window with the session identifier in the title, then starts following. */
    async create() {
        const unavailable = this.whyNoNativeWindow();
        if (unavailable)
            throw new LocalServiceError('native-window-unavailable', unavailable.message, undefined, unavailable.hint);
        const request = {
            className: this.className, embed: this.options.embed ?? true,
            ...(this.options.pluginColor ? { pluginColor: this.options.pluginColor } : {}),
            ...(this.options.parentWnd ? { parentWnd: String(this.options.parentWnd) } : {}),
        };
        const searchFor = this.options.parentWnd ? 0 : Math.max(0, this.options.findTimeout ?? 2000);
        let tries = 0;
        const began = Date.now();
        const answer = await takeTitleTurn(this.document, async () => {
            const title = this.document.title;
            // The service reads at most 260 characters of the title: the identifier alone always fits.
            this.document.title = this.session.uuid;
            try {
                await nextFrame(this.view);
                // The browser hands a new title to its native window some time later (a few hundred ms
                // on a busy machine): the service is asked again, with growing pauses, until it finds
                // the window or the time is up.
                for (let pause = 50; ; pause *= 2) {
                    ++tries;
                    const created = await this.session.command('window.createWnd',
                        { ...request, rect: this.deviceRect(this.element) });
                    const left = searchFor - (Date.now() - began);
                    if (!(created && created.errorCode === 5001) || left <= 0)
                        return created;
                    await delay(Math.min(pause, left));
                }
            } finally {
                this.document.title = title;
            }
        });
        this.answer = answer;
        if (answer && answer.errorCode === 5000)
            throw new LocalServiceError('window', 'the service could not create the plug-in window', answer);
        if (answer && answer.errorCode === 5001) {
            // The service keeps the window it could not attach, hidden: nothing of it is left behind.
            await this.session.command('window.destroyWnd').catch(() => {});
            throw new LocalServiceError('browser-window-not-found', this.options.parentWnd
                ? `the service found no window with the handle ${this.options.parentWnd}`
                : `the service found no browser window with the session in its title (${tries} tries in ` +
                  `${Date.now() - began} ms)`, answer,
            'keep the page in the front tab while it attaches; the service must see the browser\'s windows: ' +
            'on a Wayland desktop run the browser on XWayland (Chromium: --ozone-platform=x11), and a service ' +
            'without a display (headless) sees no browser at all');
        }
        this.placed = { element: this.deviceRect(this.element), covers: noCovers, visible: true };
        this.cuts = [];
        this.follow();
        this.schedule();
        return this;
    }

    /**
     * Why no native window can be placed over this page, or undefined: the service finds the browser
     * window by its title, which a page in a frame does not set, and a mobile browser has no window the
     * service could reach.
     * @returns {{message: string, hint: string}|undefined}
     */
    whyNoNativeWindow() {
        if (this.options.parentWnd)
            return undefined;
        if (this.view.navigator.userAgentData?.mobile === true || /Android|iPhone|iPad/.test(this.view.navigator.userAgent))
            return { message: 'a mobile browser cannot have a native window placed over its page', hint: 'play in the page instead' };
        let framed;
        try {
            framed = this.view.top !== this.view;
        } catch {
            framed = true;
        }
        if (framed) {
            return { message: 'a page in a frame does not set its browser window\'s title, so the service cannot find it',
                hint: 'attach from the top-level page, or name the parent window (parentWnd)' };
        }
        return undefined;
    }

    follow() {
        const view = this.view;
        this.resizeObserver = new view.ResizeObserver(this.onChange);
        this.resizeObserver.observe(this.element);
        this.mutationObserver = new view.MutationObserver(this.onChange);
        this.mutationObserver.observe(this.document.documentElement,
            { attributes: true, childList: true, subtree: true, characterData: true });
        // Scrolling of any element (capture) moves the element or its holes.
        view.addEventListener('scroll', this.onChange, { capture: true, passive: true });
        view.addEventListener('resize', this.onChange, { passive: true });
        this.document.addEventListener('visibilitychange', this.onVisibility);
        this.session.windows.add(this);
    }

    unfollow() {
        this.resizeObserver?.disconnect();
        this.mutationObserver?.disconnect();
        this.view.removeEventListener('scroll', this.onChange, { capture: true });
        this.view.removeEventListener('resize', this.onChange);
        this.document.removeEventListener('visibilitychange', this.onVisibility);
        this.session.windows.delete(this);
    }

    /** Coalesces every change of a frame into one placement. */
    schedule() {
        if (this.framePending || this.released)
            return;
        this.framePending = true;
        this.view.requestAnimationFrame(() => {
            this.framePending = false;
            this.placing = this.placing.then(() => this.place()).catch((error) => this.session.emit('error', error));
        });
    }

    /** Brings the service's window to where the element is now; sends only what changed. */
    async place() {
        if (this.released || this.hidden)
            return;
        const element = this.deviceRect(this.element);
        const covers = coversFor(element, this.visibleArea());
        if (!covers) {
            if (this.placed.visible) {
                this.placed.visible = false;
                await this.send('window.hideWnd');
            }
            return;
        }
        const moved = !sameRect(element, this.placed.element) || !sameCovers(covers, this.placed.covers);
        if (moved) {
            for (const step of placementSteps(element, this.placed.covers, covers))
                await this.send(step.cmd, step.args);
            const resized = !this.placed.element ||
                element.width - covers.left - covers.right !==
                    this.placed.element.width - this.placed.covers.left - this.placed.covers.right ||
                element.height - covers.top - covers.bottom !==
                    this.placed.element.height - this.placed.covers.top - this.placed.covers.bottom;
            // A change of size makes the whole window visible again on the service's side.
            if (resized)
                this.cuts = [];
            this.placed = { element, covers, visible: this.placed.visible };
        }
        if (!this.placed.visible) {
            this.placed.visible = true;
            await this.send('window.showWnd');
        }
        await this.cutHoles(element, covers);
    }

    async cutHoles(element, covers) {
        const windowRect = {
            left: element.left + covers.left, top: element.top + covers.top,
            width: element.width - covers.left - covers.right, height: element.height - covers.top - covers.bottom,
        };
        const wanted = this.holeElements().map((hole) => holeIn(windowRect, this.deviceRect(hole))).filter(Boolean);
        const stale = this.cuts.filter((cut) => !wanted.some((rect) => sameRect(rect, cut)));
        const fresh = wanted.filter((rect) => !this.cuts.some((cut) => sameRect(rect, cut)));
        for (const rect of stale)
            await this.send('window.repairPartWindow', { rect, round: this.round });
        // A repair fills in whatever it covers, holes that stay included: those are cut again.
        for (const rect of stale.length ? wanted : fresh)
            await this.send('window.cuttingPartWindow', { rect, round: this.round });
        this.cuts = wanted;
    }

    send(cmd, args) {
        // While the session reconnects there is no window to place; the new session creates it again.
        if (this.released || this.session.closed || this.session.reconnecting)
            return Promise.resolve();
        return this.session.command(cmd, args);
    }

    /** Sets the page elements that overlap the window (a list or a selector) and re-cuts. */
    setHoles(holes) {
        this.holes = holes;
        this.schedule();
    }

    async visibilityChanged() {
        if (this.document.visibilityState === 'hidden') {
            this.hidden = true;
            await this.send('window.hideWnd').catch(() => {});
        } else if (this.hidden) {
            this.hidden = false;
            this.placed.visible = true;
            await this.send('window.showWnd').catch(() => {});
            this.schedule();
        }
    }

    /** The session was renewed (its old window went with the old one): create the window again. */
    async reattach() {
        if (this.released)
            return;
        this.unfollow();
        await this.create().catch((error) => this.session.emit('error', error));
    }

    /** Stops following; the service's window goes with destroy() or the session's end. */
    release() {
        if (this.released)
            return;
        this.released = true;
        this.unfollow();
    }

    /** Destroys the service's window and stops following. */
    async destroy() {
        if (this.released)
            return;
        await this.send('window.destroyWnd').catch(() => {});
        this.release();
    }
}

/**
 * Attaches a plug-in window to a page element.
 * @param {import('./session.js').Session} session
 * @param {Element} element
 * @param {import('../index').AttachOptions} [options]
 * @returns {Promise<PluginWindow>}
 */
export function attachWindow(session, element, options) {
    if (session.closed)
        return Promise.reject(new LocalServiceError('closed', 'the session is closed'));
    return new PluginWindow(session, element, options).create();
}
