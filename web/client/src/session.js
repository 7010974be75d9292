// A session with the service over one road: commands matched to their answers, events to handlers,
// the long-poll loop of the HTTP roads, and the end of the session.
import { LocalServiceError } from './errors.js';
import { delay } from './roads.js';
import { attachPageView } from './pageview.js';
import { attachWindow } from './window.js';

/** Answer texts of the HTTP roads that are not JSON. */
const TIMEOUT = 'timeout';
const INVALID = 'invalid';
const DISCONNECT = 'disconnect';

/** The parsed answer: a JSON value, or the text itself (the empty text included) when it is not JSON. */
export function parseAnswer(text) {
    if (text === '')
        return '';
    try {
        return JSON.parse(text);
    } catch {
        return text;
    }
}

/** An event is a JSON object with a "cmd"; answers never carry one. */
export function eventOf(text) {
    const value = parseAnswer(text);
    return isEvent(value) ? value : null;
}

function isEvent(value) {
    return !!value && typeof value === 'object' && !Array.isArray(value) && typeof value.cmd === 'string';
}

/**
 * The service's events are named module, dot, name ("window.onGetSelectWndInfo"); the session's own
 * ("close", "error", "reconnecting", ...) have no dot, so that no text from the service can fire them.
 */
const isServiceEventName = (name) => /^[^.]+\.[^.]/.test(name);

/** Commands whose effect a new session must repeat after a reconnect (see Session.remember). */
const REPLAYED = new Set(['video.arrangeWindow', 'video.setReconnectInfo', 'video.startPlay', 'video.stop', 'video.stopAll']);

/** 64 random bits as hexadecimal digits, from Web Crypto where there is one. */
function randomHex() {
    const bytes = new Uint8Array(8);
    if (globalThis.crypto?.getRandomValues)
        globalThis.crypto.getRandomValues(bytes);
    else
        bytes.forEach((_, i) => { bytes[i] = Math.floor(Math.random() * 256); });
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

/** Commands the service answers later, from another thread, always with their "sequence". */
const ANSWERED_LATER = new Set(['video.getSlfPointList']);

/**
 * Answers waiting for their commands, in the order the commands went out. The service answers a
 * session's commands one after another on its main thread, so an answer that names no waiting
 * "sequence" (the empty text, a library text without it, a connect reply) belongs to the oldest
 * command still waiting, leaving out those answered later.
 */
export class PendingAnswers {
    constructor() {
        /** @type {Map<string, {resolve: Function, reject: Function, timer: any, later: boolean}>} */
        this.entries = new Map();
    }

    get size() {
        return this.entries.size;
    }

    /**
     * Waits for the answer of sequence; rejects with "timeout" after timeoutMs.
     * @param {boolean} [later] answered later, only ever by its sequence
     */
    wait(sequence, timeoutMs, later = false) {
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => {
                this.entries.delete(sequence);
                reject(new LocalServiceError('timeout', `no answer to ${sequence} within ${timeoutMs} ms`));
            }, timeoutMs);
            this.entries.set(sequence, { resolve, reject, timer, later });
        });
    }

    /** Gives one answer text to its command; false when no command waits. */
    settle(text) {
        const value = parseAnswer(text);
        let key;
        if (value && typeof value === 'object' && value.sequence !== undefined && this.entries.has(String(value.sequence)))
            key = String(value.sequence);
        else
            key = [...this.entries].find(([, entry]) => !entry.later)?.[0];
        const entry = key === undefined ? undefined : this.entries.get(key);
        if (!entry)
            return false;
        this.entries.delete(key);
        clearTimeout(entry.timer);
        entry.resolve(value);
        return true;
    }

    /** Forgets a command whose request never left. */
    cancel(sequence) {
        const entry = this.entries.get(sequence);
        if (!entry)
            return;
        this.entries.delete(sequence);
        clearTimeout(entry.timer);
        entry.reject(new LocalServiceError('closed', `${sequence} was not sent`));
    }

    /** Rejects every waiting command. */
    rejectAll(error) {
        for (const entry of this.entries.values()) {
            clearTimeout(entry.timer);
            entry.reject(error);
        }
        this.entries.clear();
    }
}

export class Session {
    /**
     * @param {object} road an open road (roads.js)
     * @param {object} init
     * @param {string} init.uuid the session identifier from the connect reply
     * @param {number} init.port
     * @param {number} [init.commandTimeout]
     * @param {number} [init.pollTimeout] bound on one long-poll (the service ends one after 15 s)
     * @param {{initial: number, max: number}} [init.backoff] waits between failed polls
     * @param {boolean} [init.reconnect] open a new session when the old one is lost: the service says
     *     it expired (HTTP), or the WebSocket closed without the page closing it
     * @param {number} [init.reconnectFor] how long a lost WebSocket session is tried again before it ends
     * @param {() => Promise<{road: object, reply: {uuid: string}, port: number}>} [init.reopen] opens a
     *     new road to the service (connect() gives one)
     */
    constructor(road, init) {
        this.road = road;
        this.uuid = init.uuid;
        this.host = init.host ?? '127.0.0.1';
        this.port = init.port;
        this.commandTimeout = init.commandTimeout ?? 10000;
        this.pollTimeout = init.pollTimeout ?? 30000;
        this.backoff = init.backoff ?? { initial: 250, max: 8000 };
        this.reconnect = init.reconnect ?? true;
        this.reconnectFor = init.reconnectFor ?? 120000;
        this.reopen = init.reopen;
        this.closed = false;
        this.reconnecting = false;
        // Unguessable, so that an answer a third party provokes under this session's identifier
        // cannot pass for the answer to one of its commands.
        this.sequencePrefix = 'ls' + randomHex() + '-';
        /** What a new session repeats after a reconnect: the last layout, the streams by cell. */
        this.replay = { layout: undefined, reconnect: undefined, streams: new Map() };
        /** @type {boolean|undefined} result of the page check when one was asked for */
        this.pageCheck = undefined;
        this.handlers = new Map();
        this.pending = new PendingAnswers();
        this.nextSequence = 1;
        /** @type {Set<{release(): void, reattach?(): void}>} plug-in windows to release at the end */
        this.windows = new Set();

        if (road.kind === 'websocket')
            this.listen(road);
        else
            this.polling = this.pollLoop();
    }

    listen(road) {
        road.onText = (text) => this.receive(text);
        road.onClose = () => this.lost('the WebSocket closed');
    }

    /**
     * Sends one command; resolves with its answer (a JSON object, or the text when it is not JSON,
     * the empty text included).
     * @param {string} cmd e.g. "window.getLocalServiceVersion"
     * @param {object} [args] further members of the request
     * @param {{timeout?: number}} [options]
     */
    command(cmd, args = {}, options = {}) {
        if (this.closed)
            return Promise.reject(new LocalServiceError('closed', `the session is closed; ${cmd} was not sent`));
        if (this.reconnecting) {
            return Promise.reject(new LocalServiceError('transport',
                `the connection to the service is being restored; ${cmd} was not sent`));
        }
        // Cells drawn in the page take their own full screen (it needs the click that asked for it).
        for (const window of this.windows) {
            const local = window.localCommand?.(cmd, args);
            if (local)
                return Promise.resolve(local);
        }
        const answer = this.send(cmd, args, options.timeout ?? this.commandTimeout);
        if (REPLAYED.has(cmd))
            answer.then((value) => this.remember(cmd, args, value), () => {});
        return answer;
    }

    send(cmd, args, timeout) {
        const sequence = this.sequencePrefix + this.nextSequence++;
        const text = JSON.stringify({ ...args, cmd, uuid: this.uuid, sequence });
        if (this.road.kind === 'websocket') {
            const answer = this.pending.wait(sequence, timeout, ANSWERED_LATER.has(cmd));
            try {
                this.road.send(text);
            } catch (error) {
                this.pending.cancel(sequence);
                answer.catch(() => {});
                return Promise.reject(new LocalServiceError('closed', `${cmd} was not sent: ${error.message}`));
            }
            return answer;
        }
        return this.exchangeCommand(text, timeout);
    }

    /** Keeps what a new session must repeat: commands the service accepted (errorCode 0 or no code). */
    remember(cmd, args, answer) {
        if (answer && typeof answer === 'object' && answer.errorCode)
            return;
        for (const window of [...this.windows])
            window.commandDone?.(cmd, args, answer);
        const cell = Number(args?.wndIndex ?? 0);
        if (cmd === 'video.arrangeWindow')
            this.replay.layout = { ...args };
        else if (cmd === 'video.setReconnectInfo')
            this.replay.reconnect = { ...args };
        else if (cmd === 'video.startPlay')
            this.replay.streams.set(cell, { ...args });
        else if (cmd === 'video.stop')
            this.replay.streams.delete(cell);
        else if (cmd === 'video.stopAll')
            this.replay.streams.clear();
    }

    async exchangeCommand(text, timeout) {
        const answer = await this.road.exchange(text, timeout);
        if (this.closed)
            throw new LocalServiceError('closed', 'the session closed while the command waited');
        // Over HTTP the service answers "timeout" when a command found no handler within its bound.
        if (answer === TIMEOUT)
            throw new LocalServiceError('timeout', 'the service found no answer to the command');
        return parseAnswer(answer);
    }

    /**
     * Shows the session's cells over a page element: a native plug-in window (render 'native', the
     * default; see PluginWindow), cells rendered in the page ('page'; see PageView), or the native window
     * where one can be placed and the page otherwise ('auto'). The result's "mode" says which.
     * @param {Element} element
     * @param {object} [options]
     */
    attach(element, options = {}) {
        const render = options.render ?? 'native';
        if (render === 'page')
            return attachPageView(this, element, options);
        const native = attachWindow(this, element, options);
        if (render !== 'auto')
            return native;
        // A native window where one can be placed, the page otherwise.
        return native.catch((error) => {
            if (error?.code === 'browser-window-not-found' || error?.code === 'native-window-unavailable')
                return attachPageView(this, element, options, error);
            throw error;
        });
    }

    /**
     * Registers a handler for an event of the service by its "cmd" ("window.onGetSelectWndInfo"),
     * "*" for every event, or one of the session's own: "close", "error", "reconnecting",
     * "reconnected", "reconnect" (an expired HTTP session renewed).
     */
    on(name, handler) {
        if (!this.handlers.has(name))
            this.handlers.set(name, new Set());
        this.handlers.get(name).add(handler);
        return this;
    }

    off(name, handler) {
        this.handlers.get(name)?.delete(handler);
        return this;
    }

    /** Fires one of the session's own events, or (deliver) an event of the service. */
    emit(name, value) {
        for (const key of isServiceEventName(name) ? [name, '*'] : [name]) {
            for (const handler of [...(this.handlers.get(key) || [])]) {
                try {
                    handler(value);
                } catch (error) {
                    // A page's handler must not stop the delivery of other events.
                    if (typeof console !== 'undefined')
                        console.error(error);
                }
            }
        }
    }

    /**
     * An event of the service reaches the page only when it is this session's: its "uuid" is the
     * session's and its name is a service event's.
     */
    deliver(event) {
        if (event.uuid === this.uuid && isServiceEventName(event.cmd))
            this.emit(event.cmd, event);
    }

    /**
     * Whether an answer may be one of this session's: not when it names another session, nor when it
     * carries a sequence this session never sent (the answer to a command a third party sent under this
     * session's identifier). Answers without either go to the oldest waiting command.
     */
    ownAnswer(value) {
        if (!value || typeof value !== 'object')
            return true;
        if (typeof value.uuid === 'string' && value.uuid !== this.uuid)
            return false;
        return value.sequence === undefined || value.sequence === '' || String(value.sequence).startsWith(this.sequencePrefix);
    }

    /** One text from the WebSocket: an event, or the answer of a waiting command. */
    receive(text) {
        const value = parseAnswer(text);
        if (isEvent(value))
            this.deliver(value);
        else if (!this.ownAnswer(value))
            return;
        else
            this.pending.settle(text);
    }

    /** Keeps one "system.get" outstanding while the session lives (HTTP and image roads). */
    async pollLoop() {
        let wait = this.backoff.initial;
        while (!this.closed) {
            let answer;
            try {
                answer = await this.road.exchange(JSON.stringify({ cmd: 'system.get', uuid: this.uuid }),
                    this.pollTimeout);
            } catch (error) {
                if (this.closed)
                    return;
                this.emit('error', error);
                await delay(wait);
                wait = Math.min(wait * 2, this.backoff.max);
                continue;
            }
            if (this.closed)
                return;
            wait = this.backoff.initial;
            if (answer === TIMEOUT)
                continue;
            if (answer === DISCONNECT) {
                this.ended('the service ended the session');
                return;
            }
            if (answer === INVALID) {
                if (!(await this.renew()))
                    return;
                continue;
            }
            const event = eventOf(answer);
            if (event)
                this.deliver(event);
        }
    }

    /**
     * The service released an expired session (its plug-in window with it): ask for a new one on the
     * same road, with back-off while the service does not answer.
     */
    async renew() {
        if (!this.reconnect) {
            this.ended('the session expired');
            return false;
        }
        let wait = this.backoff.initial;
        while (!this.closed) {
            try {
                const reply = parseAnswer(await this.road.exchange(JSON.stringify({ cmd: 'system.webconnect' }),
                    this.commandTimeout));
                if (reply && typeof reply.uuid === 'string') {
                    const previous = this.uuid;
                    this.uuid = reply.uuid;
                    this.emit('reconnect', { uuid: this.uuid, previous });
                    await this.restore();
                    return true;
                }
            } catch (error) {
                this.emit('error', error);
            }
            await delay(wait);
            wait = Math.min(wait * 2, this.backoff.max);
        }
        return false;
    }

    /**
     * The WebSocket closed without the page closing it (the service ended or restarted): a new session
     * is opened with back-off, up to reconnectFor, and gets the windows, layout and streams of this one.
     */
    async lost(reason) {
        if (this.closed || this.reconnecting)
            return;
        if (!this.reconnect || typeof this.reopen !== 'function') {
            this.ended(reason);
            return;
        }
        this.reconnecting = true;
        this.pending.rejectAll(new LocalServiceError('transport', `the connection was lost: ${reason}`));
        const previous = this.uuid;
        const started = Date.now();
        let wait = this.backoff.initial;
        for (let attempt = 1; !this.closed; ++attempt) {
            this.emit('reconnecting', { attempt, reason });
            let opened;
            try {
                opened = await this.reopen();
            } catch (error) {
                if (Date.now() - started + wait > this.reconnectFor) {
                    this.reconnecting = false;
                    this.ended(`${reason}; the service did not answer again within ${this.reconnectFor} ms`);
                    return;
                }
                await delay(wait);
                wait = Math.min(wait * 2, this.backoff.max);
                continue;
            }
            if (this.closed) {
                opened.road.close();
                return;
            }
            this.road = opened.road;
            this.uuid = opened.reply.uuid;
            this.port = opened.port;
            this.listen(this.road);
            this.reconnecting = false;
            this.emit('reconnected', { uuid: this.uuid, previous, port: this.port, attempts: attempt });
            await this.restore();
            return;
        }
    }

    /**
     * A new session takes over: windows created again where their elements are, then layout, reconnecting
     * and streams. A step that fails (a command that timed out on a busy machine, say) is reported and the
     * next ones are still asked: one lost answer must not leave every cell dark.
     */
    async restore() {
        const attempt = async (step) => {
            try {
                await step();
            } catch (error) {
                this.emit('error', error);
            }
        };
        for (const window of [...this.windows])
            await attempt(() => window.reattach?.());
        const { layout, reconnect, streams } = this.replay;
        if (layout)
            await attempt(() => this.command('video.arrangeWindow', layout));
        if (reconnect)
            await attempt(() => this.command('video.setReconnectInfo', reconnect));
        for (const args of [...streams.values()])
            await attempt(() => this.command('video.startPlay', args));
    }

    ended(reason) {
        if (this.closed)
            return;
        this.closed = true;
        for (const window of [...this.windows])
            window.release();
        this.pending.rejectAll(new LocalServiceError('closed', `the session closed: ${reason}`));
        this.emit('close', { reason });
    }

    /**
     * Ends the session: "system.disconnect" over HTTP, the socket's close over WebSocket. The service
     * releases the session's plug-in window either way.
     */
    async close() {
        if (this.closed)
            return;
        const road = this.road;
        const uuid = this.uuid;
        this.ended('closed by the page');
        if (road.kind === 'websocket') {
            road.close();
            return;
        }
        try {
            await road.exchange(JSON.stringify({ cmd: 'system.disconnect', uuid }), this.commandTimeout);
        } catch {
            // The service is gone already: nothing is left to release.
        }
    }
}
