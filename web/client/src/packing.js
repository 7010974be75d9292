// The image channel's wire forms, free of any browser object so that they run anywhere.
//
// A command travels packed in the URL of image requests, from the inside out: UTF-8, zlib (RFC 1950),
// the zlib bytes as decimal numbers joined by ",", Base64; each piece of that text is URL-encoded into
// the query. The answer is a 24-bit bitmap, 4 pixels a row, bottom row first, whose pixels carry the
// answer text up to its first zero byte.

const encoder = new TextEncoder();
const decoder = new TextDecoder();

/** Base64 of a Latin-1 text (the packed text is ASCII only). */
function base64(text) {
    if (typeof btoa === 'function')
        return btoa(text);
    return Buffer.from(text, 'latin1').toString('base64');
}

/**
 * zlib (RFC 1950) of bytes with the platform's own compressor: CompressionStream("deflate") writes the
 * zlib format in browsers and in Node 18 and later.
 * @param {Uint8Array} bytes
 * @returns {Promise<Uint8Array>}
 */
export async function zlibDeflate(bytes) {
    if (typeof CompressionStream !== 'function')
        throw new Error('the image channel needs CompressionStream, which this environment lacks');
    const stream = new Blob([bytes]).stream().pipeThrough(new CompressionStream('deflate'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
}

/**
 * Packs a command text.
 * @param {string} text
 * @param {(bytes: Uint8Array) => Uint8Array|Promise<Uint8Array>} [deflate] a zlib (RFC 1950)
 *     compressor, bytes in and bytes out; the platform's by default
 * @returns {Promise<string>}
 */
export async function packCommand(text, deflate = zlibDeflate) {
    return base64(Array.from(await deflate(encoder.encode(text))).join(','));
}

/**
 * Splits packed text into pieces of at most size characters; always at least one piece.
 * @param {string} packed
 * @param {number} size
 * @returns {string[]}
 */
export function splitPieces(packed, size) {
    if (!(size >= 1))
        throw new RangeError('piece size must be at least 1');
    const pieces = [];
    for (let at = 0; at < packed.length; at += size)
        pieces.push(packed.slice(at, at + size));
    return pieces.length ? pieces : [''];
}

/**
 * The URLs of one packed command: every piece carries the same grouping key, the last one "isLast".
 * The service finds a field only behind an "&", so the query starts with a field of no meaning to it
 * ("t", which also keeps caches away).
 * @param {string} base e.g. "http://127.0.0.1:33686"
 * @param {string[]} pieces
 * @param {string} groupKey
 * @param {string} nonce
 * @returns {string[]}
 */
export function pieceUrls(base, pieces, groupKey, nonce) {
    return pieces.map((piece, i) => base + '/?t=' + encodeURIComponent(nonce) + '-' + i +
        '&sequence=' + encodeURIComponent(groupKey) + '&data=' + encodeURIComponent(piece) +
        (i === pieces.length - 1 ? '&isLast=true' : ''));
}

/**
 * A grouping key for one packed command: 128 random bits from Web Crypto as 32 hexadecimal digits.
 * The service's store of pieces is shared by every page on the machine: a key another page could
 * guess would let it park a command of its own under ours and have it answered in our place.
 * @param {{getRandomValues(array: Uint8Array): Uint8Array}} crypto
 * @returns {string}
 */
export function groupKey(crypto) {
    if (!crypto || typeof crypto.getRandomValues !== 'function')
        throw new Error('the image channel needs Web Crypto (crypto.getRandomValues)');
    const bytes = crypto.getRandomValues(new Uint8Array(16));
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

function textUpToZero(bytes) {
    const end = bytes.indexOf(0);
    return decoder.decode(end < 0 ? bytes : bytes.subarray(0, end));
}

/**
 * Reads the answer text out of decoded pixels in canvas order (RGBA, top row first).
 * @param {Uint8ClampedArray|Uint8Array} rgba
 * @param {number} width
 * @param {number} height
 * @returns {string}
 */
export function textFromPixels(rgba, width, height) {
    const bytes = new Uint8Array(width * height * 3);
    let n = 0;
    for (let row = height - 1; row >= 0; --row) {
        for (let x = 0; x < width; ++x) {
            const at = (row * width + x) * 4;
            bytes[n++] = rgba[at];
            bytes[n++] = rgba[at + 1];
            bytes[n++] = rgba[at + 2];
        }
    }
    return textUpToZero(bytes);
}

/**
 * Reads the answer text out of the bytes of a bitmap answer file. A file that is not a 24-bit
 * uncompressed bitmap, or whose pixel data lies outside the file, throws.
 * @param {Uint8Array} file
 * @returns {string}
 */
export function textFromBitmapFile(file) {
    if (file.length < 54 || file[0] !== 0x42 || file[1] !== 0x4d)
        throw new Error('the answer is not a bitmap');
    const view = new DataView(file.buffer, file.byteOffset, file.byteLength);
    const offset = view.getUint32(10, true);
    const width = view.getInt32(18, true);
    const height = view.getInt32(22, true);
    const bits = view.getUint16(28, true);
    const compression = view.getUint32(30, true);
    if (bits !== 24 || compression !== 0 || width < 0)
        throw new Error('the answer bitmap is not 24-bit uncompressed');
    const rowBytes = Math.ceil((width * 3) / 4) * 4;
    const rows = Math.abs(height);
    if (offset + rowBytes * rows > file.length)
        throw new Error('the answer bitmap is cut short');
    // Rows are stored bottom first for a positive height; the text starts in the first stored row,
    // which is the order the pixels were written in. Each pixel is stored blue, green, red.
    const bytes = new Uint8Array(width * 3 * rows);
    let n = 0;
    for (let r = 0; r < rows; ++r) {
        const row = offset + r * rowBytes;
        for (let x = 0; x < width; ++x) {
            const at = row + x * 3;
            bytes[n++] = file[at + 2];
            bytes[n++] = file[at + 1];
            bytes[n++] = file[at];
        }
    }
    return textUpToZero(bytes);
}
