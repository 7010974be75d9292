// Finding the service and opening a session: the port range is probed road by road, WebSocket first,
// HTTP long-poll next, the image channel last (or only the roads the page names).
import { LocalServiceError } from './errors.js';
import { HttpRoad, ImageRoad, openWebSocket } from './roads.js';
import { Session, parseAnswer } from './session.js';

export const DEFAULT_PORTS = Object.freeze({ start: 33686, end: 33695 });
const ROADS = ['websocket', 'http', 'image'];

const hex = (buffer) => Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, '0')).join('');

/**
 * The page check's digest, computed with Web Crypto: HMAC-SHA-256 keyed with the hexadecimal SHA-256
 * of user, iterations and challenge, over the login capabilities path followed by user and random.
 * @param {{user: string, iterations: number, challenge: string, random: string|number}} login
 * @param {SubtleCrypto} subtle
 */
export async function pageDigest(login, subtle) {
    const encoder = new TextEncoder();
    const key = hex(await subtle.digest('SHA-256',
        encoder.encode(`${login.user}${Math.trunc(login.iterations) || 0}${login.challenge}`)));
    const hmacKey = await subtle.importKey('raw', encoder.encode(key), { name: 'HMAC', hash: 'SHA-256' }, false,
        ['sign']);
    const message = `GET/DEVAPI/Security/sessionLogin/capabilities${login.user}${login.random}`;
    return hex(await subtle.sign('HMAC', hmacKey, encoder.encode(message)));
}

/** A connect reply of the service: a braced UUID and the protocol version. */
export function isConnectReply(value) {
    return !!value && typeof value === 'object' && typeof value.uuid === 'string' &&
        /^\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\}$/.test(value.uuid) &&
        value.version !== undefined;
}

/**
 * The ports to probe, in order: a range (both ends included) or a list of ports (a page that pins its
 * service's port gives one). Bounded so that a typo cannot run away.
 * @param {{start: number, end?: number}|number[]} [range]
 * @returns {number[]}
 */
export function portsOf(range = DEFAULT_PORTS) {
    if (Array.isArray(range)) {
        const ports = [...new Set(range.map((port) => Math.trunc(port)))];
        if (!(ports.length >= 1 && ports.length <= 1024 && ports.every((port) => port >= 1 && port <= 65535)))
            throw new RangeError(`a list of 1 to 1024 ports within 1..65535 is needed, not ${range.join(',')}`);
        return ports;
    }
    const start = Math.trunc(range.start);
    const end = Math.trunc(range.end ?? range.start);
    if (!(start >= 1 && end <= 65535 && start <= end && end - start < 1024))
        throw new RangeError(`a port range of 1 to 1024 ports within 1..65535 is needed, not ${start}..${end}`);
    const ports = [];
    for (let port = start; port <= end; ++port)
        ports.push(port);
    return ports;
}

// The port that last answered as the service, per page origin: tried first next time, so that a
// program that took a lower port of the range since does not get the page's commands first.
const LAST_PORT_KEY = 'localservice-client.port';

function storageOf(settings) {
    try {
        return settings.storage === undefined ? globalThis.localStorage : settings.storage;
    } catch {
        return undefined; // storage refused (sandboxed frame, blocked cookies)
    }
}

/** The ports in probing order: the last good one first when it is one of them. */
export function probingOrder(ports, storage) {
    let last;
    try {
        last = Number(storage?.getItem(LAST_PORT_KEY));
    } catch {
        return ports;
    }
    return ports.includes(last) ? [last, ...ports.filter((port) => port !== last)] : ports;
}

function rememberPort(storage, port) {
    try {
        storage?.setItem(LAST_PORT_KEY, String(port));
    } catch {
        // Full or refused storage: the next connect probes in range order.
    }
}

function firstMessage(road, timeoutMs) {
    return new Promise((resolve, reject) => {
        const timer = setTimeout(() => {
            road.onText = () => {};
            reject(new LocalServiceError('timeout', `no connect reply within ${timeoutMs} ms`));
        }, timeoutMs);
        road.onText = (text) => {
            clearTimeout(timer);
            road.onText = () => {};
            resolve(parseAnswer(text));
        };
        road.onClose = () => {
            clearTimeout(timer);
            reject(new LocalServiceError('transport', 'the WebSocket closed before the connect reply'));
        };
    });
}

/** One road on one port: the open road and the connect reply, or a rejection. */
async function tryRoad(kind, host, port, options) {
    const timeout = options.probeTimeout;
    if (kind === 'websocket') {
        const road = await openWebSocket(`ws://${host}:${port}/`, options.WebSocket, timeout);
        try {
            const replied = firstMessage(road, timeout);
            road.send(JSON.stringify({ cmd: 'system.webconnect' }));
            const reply = await replied;
            if (!isConnectReply(reply))
                throw new LocalServiceError('no-service', `port ${port} did not answer as the service`);
            return { road, reply };
        } catch (error) {
            road.close();
            throw error;
        }
    }
    const base = `http://${host}:${port}`;
    const road = kind === 'http' ? new HttpRoad(base, options.fetch) : new ImageRoad(base, options);
    const reply = parseAnswer(await road.exchange(JSON.stringify({ cmd: 'system.webconnect' }), timeout));
    if (!isConnectReply(reply))
        throw new LocalServiceError('no-service', `port ${port} did not answer as the service`);
    return { road, reply };
}

/**
 * The first port and road that answer as the service, in probing order; throws "no-service" with the
 * last failures when none does.
 */
async function findService(roads, ports, settings) {
    const failures = [];
    for (const kind of roads) {
        if (kind === 'websocket' && typeof settings.WebSocket !== 'function') {
            failures.push('websocket: no WebSocket in this environment');
            continue;
        }
        if (kind === 'http' && typeof settings.fetch !== 'function') {
            failures.push(`${kind}: no fetch in this environment`);
            continue;
        }
        for (const port of probingOrder(ports, storageOf(settings))) {
            try {
                const opened = await tryRoad(kind, settings.host, port, settings);
                rememberPort(storageOf(settings), port);
                return { ...opened, port };
            } catch (error) {
                failures.push(`${kind} ${port}: ${error.message}`);
            }
        }
    }
    const range = ports.length > 1 && ports.every((port, i) => i === 0 || port === ports[i - 1] + 1)
        ? `ports ${ports[0]}..${ports[ports.length - 1]}` : `port ${ports.join(', ')}`;
    throw new LocalServiceError('no-service',
        `no LocalService answered on ${settings.host} ${range} (${roads.join(', ')}): ${failures.slice(-3).join('; ')}`,
        undefined, 'start the service (./scripts/start.sh), or name the ports it listens on');
}

/**
 * Finds the service and opens a session.
 * @param {import('../index').ConnectOptions} [options]
 * @returns {Promise<Session>}
 */
export async function connect(options = {}) {
    const settings = {
        host: options.host ?? '127.0.0.1',
        probeTimeout: options.probeTimeout ?? 2000,
        WebSocket: options.WebSocket ?? globalThis.WebSocket,
        fetch: options.fetch ?? globalThis.fetch?.bind(globalThis),
        crypto: options.crypto ?? globalThis.crypto,
        deflate: options.deflate,
        loadImage: options.loadImage,
        pieceSize: options.pieceSize,
        storage: options.storage,
    };
    const roads = options.road ? [].concat(options.road) : ROADS;
    for (const kind of roads) {
        if (!ROADS.includes(kind))
            throw new RangeError(`unknown road "${kind}": one of ${ROADS.join(', ')}`);
    }
    const ports = portsOf(options.ports);
    const opened = await findService(roads, ports, settings);
    const session = new Session(opened.road, {
        uuid: opened.reply.uuid, host: settings.host, port: opened.port, commandTimeout: options.commandTimeout,
        pollTimeout: options.pollTimeout, backoff: options.backoff, reconnect: options.reconnect,
        reconnectFor: options.reconnectFor,
        // A WebSocket that closed under the session is opened again on the same road.
        reopen: () => findService([opened.road.kind], ports, settings),
    });
    session.settings = settings;
    if (options.detect) {
        try {
            session.pageCheck = await runPageCheck(session, options.detect, settings);
        } catch (error) {
            // Web Crypto's digests exist only in secure contexts (https, localhost).
            await session.close();
            throw new LocalServiceError('transport', `the page check could not run: ${error.message || error}`);
        }
    }
    return session;
}

/** "detectport" over WebSocket, the detect form over the HTTP roads; true when the check passed. */
async function runPageCheck(session, login, settings) {
    if (!settings.crypto?.subtle)
        throw new Error('Web Crypto is not available here (the page is not a secure context)');
    const sessionID = await pageDigest(login, settings.crypto.subtle);
    if (session.road.kind === 'websocket') {
        const reply = await session.command('detectport', {
            sessionID, user: encodeURIComponent(login.user), challenge: login.challenge,
            iterations: Math.trunc(login.iterations) || 0, random: String(login.random),
        });
        return !!reply && reply.errorCode === 0;
    }
    return session.road.detect({
        sessionID, user: login.user, challenge: login.challenge,
        iterations: String(Math.trunc(login.iterations) || 0), random: String(login.random),
    }, session.commandTimeout);
}
