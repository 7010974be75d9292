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

/** The ports of the range in probing order, both ends included; bounded so a typo cannot run away. */
export function portsOf(range = DEFAULT_PORTS) {
    const start = Math.trunc(range.start);
    const end = Math.trunc(range.end ?? range.start);
    if (!(start >= 1 && end <= 65535 && start <= end && end - start < 1024))
        throw new RangeError(`a port range of 1 to 1024 ports within 1..65535 is needed, not ${start}..${end}`);
    const ports = [];
    for (let port = start; port <= end; ++port)
        ports.push(port);
    return ports;
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
    };
    const roads = options.road ? [].concat(options.road) : ROADS;
    for (const kind of roads) {
        if (!ROADS.includes(kind))
            throw new RangeError(`unknown road "${kind}": one of ${ROADS.join(', ')}`);
    }
    const ports = portsOf(options.ports);

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
        if (kind === 'image' && !settings.deflate) {
            // pako is loaded only when the image channel is tried.
            try {
                settings.deflate = (await import('pako')).deflate;
            } catch {
                // Left missing: the image road then fails with a clear error of its own.
            }
        }
        for (const port of ports) {
            let opened;
            try {
                opened = await tryRoad(kind, settings.host, port, settings);
            } catch (error) {
                failures.push(`${kind} ${port}: ${error.message}`);
                continue;
            }
            const session = new Session(opened.road, {
                uuid: opened.reply.uuid, port, commandTimeout: options.commandTimeout,
                pollTimeout: options.pollTimeout, backoff: options.backoff, reconnect: options.reconnect,
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
    }
    throw new LocalServiceError('no-service',
        `no LocalService answered on ${settings.host} ports ${ports[0]}..${ports[ports.length - 1]} ` +
        `(${roads.join(', ')}): ${failures.slice(-3).join('; ')}`);
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
