// A session with the service over one road: commands matched to their answers, events to handlers,
// the long-poll loop of the HTTP roads, and the end of the session.
import { LocalServiceError } from './errors.js';
import { delay } from './roads.js';
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
    return value && typeof value === 'object' && !Array.isArray(value) && typeof value.cmd === 'string' ? value : null;
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
     * @param {boolean} [init.reconnect] open a new session when the service says the old one expired
     */
    constructor(road, init) {
        this.road = road;
        this.uuid = init.uuid;
        this.port = init.port;
        this.commandTimeout = init.commandTimeout ?? 10000;
        this.pollTimeout = init.pollTimeout ?? 30000;
        this.backoff = init.backoff ?? { initial: 250, max: 8000 };
        this.reconnect = init.reconnect ?? true;
        this.closed = false;
        /** @type {boolean|undefined} result of the page check when one was asked for */
        this.pageCheck = undefined;
        this.handlers = new Map();
        this.pending = new PendingAnswers();
        this.nextSequence = 1;
        /** @type {Set<{release(): void, reattach?(): void}>} plug-in windows to release at the end */
        this.windows = new Set();

        if (road.kind === 'websocket') {
            road.onText = (text) => this.receive(text);
            road.onClose = () => this.ended('the WebSocket closed');
        } else {
            this.polling = this.pollLoop();
        }
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
        const timeout = options.timeout ?? this.commandTimeout;
        const sequence = 'ls' + this.nextSequence++;
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
     * Attaches a plug-in window to a page element (see PluginWindow).
     * @param {Element} element
     * @param {object} [options]
     */
    attach(element, options) {
        return attachWindow(this, element, options);
    }

    /**
     * Registers a handler for an event of the service by its "cmd" ("window.onGetSelectWndInfo"),
     * "*" for every event, or one of the session's own: "close", "reconnect", "error".
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

    emit(name, value) {
        for (const key of name.includes('.') ? [name, '*'] : [name]) {
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

    /** One text from the WebSocket: an event, or the answer of a waiting command. */
    receive(text) {
        const event = eventOf(text);
        if (event)
            this.emit(event.cmd, event);
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
                this.emit(event.cmd, event);
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
                    for (const window of [...this.windows])
                        window.reattach?.();
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
