// The three roads to the service. A road moves texts; the session (session.js) gives them meaning.
//
// - WebSocket: one connection; commands go out as text messages, answers and events come back on it
//   in the order the service writes them.
// - HTTP: every command is a POST of its own, answered with the answer text ("text/plain" keeps it a
//   simple cross-origin request, without preflight).
// - Image channel: every command is packed into the URLs of image requests, answered by bitmaps.
// The last two are exchanges (one text out, one text back); events come by long-poll over them.
import { LocalServiceError } from './errors.js';
import { groupKey, packCommand, pieceUrls, splitPieces, textFromBitmapFile, textFromPixels, zlibDeflate } from './packing.js';

/** Packed characters whose Base64 decodes within the service's 2 MiB buffer. */
export const MAX_PACKED_CHARS = Math.floor((2 * 1024 * 1024 - 1) / 3) * 4;

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/**
 * Opens a WebSocket and resolves once it is open; rejects when it fails or timeoutMs pass.
 * @returns {Promise<WebSocketRoad>}
 */
export function openWebSocket(url, WebSocketClass, timeoutMs) {
    return new Promise((resolve, reject) => {
        let socket;
        try {
            socket = new WebSocketClass(url);
        } catch (error) {
            reject(new LocalServiceError('transport', `cannot open ${url}: ${error.message || error}`));
            return;
        }
        const timer = setTimeout(() => {
            socket.onopen = socket.onerror = socket.onclose = null;
            socket.close();
            reject(new LocalServiceError('transport', `${url} did not open within ${timeoutMs} ms`));
        }, timeoutMs);
        socket.onopen = () => {
            clearTimeout(timer);
            resolve(new WebSocketRoad(socket));
        };
        socket.onerror = socket.onclose = () => {
            clearTimeout(timer);
            socket.onopen = socket.onerror = socket.onclose = null;
            reject(new LocalServiceError('transport', `${url} refused the connection`));
        };
    });
}

export class WebSocketRoad {
    constructor(socket) {
        this.kind = 'websocket';
        this.socket = socket;
        /** @type {(text: string) => void} */
        this.onText = () => {};
        /** @type {() => void} */
        this.onClose = () => {};
        socket.onmessage = (event) => this.onText(typeof event.data === 'string' ? event.data : String(event.data));
        socket.onclose = () => this.onClose();
        socket.onerror = () => {};
    }

    get open() {
        return this.socket.readyState === 1;
    }

    send(text) {
        if (!this.open)
            throw new LocalServiceError('closed', 'the WebSocket is closed');
        this.socket.send(text);
    }

    close() {
        this.socket.close();
    }
}

/** Plain HTTP: POST the text, resolve with the answer text. */
export class HttpRoad {
    constructor(base, fetchFn) {
        this.kind = 'http';
        this.base = base;
        this.fetch = fetchFn;
    }

    async exchange(text, timeoutMs) {
        const abort = new AbortController();
        const timer = setTimeout(() => abort.abort(), timeoutMs);
        try {
            const answer = await this.fetch(this.base + '/', {
                method: 'POST', headers: { 'Content-Type': 'text/plain' }, body: text, signal: abort.signal,
            });
            return await answer.text();
        } catch (error) {
            if (abort.signal.aborted)
                throw new LocalServiceError('timeout', `no answer within ${timeoutMs} ms`);
            throw new LocalServiceError('transport', `HTTP request failed: ${error.message || error}`);
        } finally {
            clearTimeout(timer);
        }
    }

    /** The page check's detect form: true when the service answers the image of "detect". */
    async detect(fields, timeoutMs) {
        const image = new ImageRoad(this.base, { fetch: this.fetch });
        return image.detect(fields, timeoutMs);
    }
}

/**
 * Loads one image answer as text: a fetch of the bitmap's bytes (the service lets any origin read its
 * answers). An <img> read back through a canvas ("img") also works where fetch is unavailable, but a
 * browser refuses the service's bitmap of the empty answer (height 0) and it then reads as a failure.
 * @param {'fetch'|'img'|Function|undefined} choice
 */
export function imageLoader(choice, fetchFn) {
    if (typeof choice === 'function')
        return choice;
    if (choice === 'img' || (choice === undefined && typeof fetchFn !== 'function'))
        return loadWithImageElement;
    return async (url, timeoutMs) => {
        const abort = new AbortController();
        const timer = setTimeout(() => abort.abort(), timeoutMs);
        try {
            const answer = await fetchFn(url, { signal: abort.signal });
            return textFromBitmapFile(new Uint8Array(await answer.arrayBuffer()));
        } catch (error) {
            if (abort.signal.aborted)
                throw new LocalServiceError('timeout', `no image answer within ${timeoutMs} ms`);
            throw error;
        } finally {
            clearTimeout(timer);
        }
    };
}

function loadWithImageElement(url, timeoutMs) {
    return new Promise((resolve, reject) => {
        const image = new Image();
        const timer = setTimeout(() => {
            image.src = '';
            reject(new LocalServiceError('timeout', `no image answer within ${timeoutMs} ms`));
        }, timeoutMs);
        image.crossOrigin = 'anonymous';
        image.onload = () => {
            clearTimeout(timer);
            try {
                const canvas = document.createElement('canvas');
                canvas.width = image.naturalWidth;
                canvas.height = image.naturalHeight;
                const context = canvas.getContext('2d', { colorSpace: 'srgb', willReadFrequently: true });
                context.drawImage(image, 0, 0);
                const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
                resolve(textFromPixels(pixels, canvas.width, canvas.height));
            } catch (error) {
                reject(error);
            }
        };
        image.onerror = () => {
            clearTimeout(timer);
            reject(new LocalServiceError('transport', 'image request failed'));
        };
        image.src = url;
    });
}

/** The image channel: a command packed over as many image requests as its pieces need. */
export class ImageRoad {
    /**
     * @param {string} base
     * @param {{fetch?: Function, deflate?: Function, crypto?: any, loadImage?: 'fetch'|'img'|Function, pieceSize?: number}} options
     */
    constructor(base, options) {
        this.kind = 'image';
        this.base = base;
        this.deflate = options.deflate ?? zlibDeflate;
        this.crypto = options.crypto;
        this.pieceSize = options.pieceSize || 1500;
        this.loadImage = imageLoader(options.loadImage, options.fetch);
        this.nonce = 0;
    }

    async exchange(text, timeoutMs) {
        let packed;
        try {
            packed = await packCommand(text, this.deflate);
        } catch (error) {
            throw new LocalServiceError('transport', `the command could not be packed: ${error.message || error}`);
        }
        // The service unpacks at most 2 MiB of Base64 output; a larger command could only be cut.
        if (packed.length > MAX_PACKED_CHARS)
            throw new LocalServiceError('transport', `the command is too large for the image channel (${packed.length} packed characters)`);
        const pieces = splitPieces(packed, this.pieceSize);
        const urls = pieceUrls(this.base, pieces, groupKey(this.crypto), String(Date.now()) + '.' + ++this.nonce);
        const deadline = Date.now() + timeoutMs;
        let answer = '';
        for (const url of urls) {
            const left = deadline - Date.now();
            if (left <= 0)
                throw new LocalServiceError('timeout', `no answer within ${timeoutMs} ms`);
            try {
                answer = await this.loadImage(url, left);
            } catch (error) {
                if (error instanceof LocalServiceError)
                    throw error;
                throw new LocalServiceError(error.name === 'AbortError' ? 'timeout' : 'transport',
                    `image request failed: ${error.message || error}`);
            }
        }
        return answer;
    }

    /** The page check's detect form; a failed check gets no image at all. */
    async detect(fields, timeoutMs) {
        const query = Object.keys(fields).map((key) => '&' + key + '=' + encodeURIComponent(fields[key])).join('');
        try {
            return (await this.loadImage(`${this.base}/?t=${Date.now()}${query}`, timeoutMs)) === 'detect';
        } catch {
            return false;
        }
    }
}

export { delay };
