// The image channel's forms against what the service's decoder expects: Base64 of comma-joined
// decimal bytes of a zlib stream, pieces joined in order, bitmap answers read back.
import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { test } from 'node:test';
import zlib from 'node:zlib';
import { groupKey, packCommand, pieceUrls, splitPieces, textFromBitmapFile, textFromPixels } from '../../web/client/src/packing.js';

const deflate = (bytes) => new Uint8Array(zlib.deflateSync(bytes));

// The service's unpacking, stage by stage: URL decoding, Base64, decimal fields, zlib.
function unpackLikeTheService(queries) {
    const data = queries.map((query) => decodeURIComponent(query.split('&data=')[1].split('&')[0])).join('');
    const fields = Buffer.from(data, 'base64').toString('latin1').split(',');
    for (const field of fields)
        assert.match(field, /^(25[0-5]|2[0-4]\d|1?\d?\d)$/, `field ${field} is one byte in decimal`);
    return zlib.inflateSync(Buffer.from(fields.map(Number))).toString('utf8');
}

// Packed with the platform's own compressor (CompressionStream), as a page packs without any library.
test('a packed command unpacks to its text through every stage of the service decoder', async () => {
    for (const text of ['{"cmd":"system.webconnect"}', '{"cmd":"video.startPlay","url":"rtsp://h/ü €"}',
        JSON.stringify({ cmd: 'x', note: 'é'.repeat(3000) })]) {
        const packed = await packCommand(text);
        assert.match(packed, /^[A-Za-z0-9+/]+=*$/);
        for (const size of [7, 60, 100000]) {
            const urls = pieceUrls('http://127.0.0.1:1', splitPieces(packed, size), 'k', 'n');
            // The pieces arrive as separate requests; the service joins them in arrival order.
            assert.equal(unpackLikeTheService(urls.map((url) => url.slice(url.indexOf('?')))), text);
        }
    }
});

test('piece URLs: a field before the first "&", one grouping key, "isLast" on the last piece only', () => {
    const urls = pieceUrls('http://127.0.0.1:33686', ['a+b/', 'c=', 'd'], 'ab'.repeat(16), '17');
    assert.equal(urls.length, 3);
    urls.forEach((url, i) => {
        const query = url.slice(url.indexOf('?') + 1);
        assert.ok(!query.startsWith('&') && !query.startsWith('data='), url);
        assert.equal(query.split('&sequence=' + 'ab'.repeat(16)).length, 2, url);
        assert.equal(query.includes('&isLast=true'), i === 2, url);
        // "+" and "/" of Base64 are escaped so that "+" does not read as a space.
        assert.ok(!query.split('&data=')[1].split('&')[0].includes('+'), url);
    });
    assert.notEqual(urls[0], urls[1]);
    assert.deepEqual(splitPieces('', 10), ['']);
    assert.deepEqual(splitPieces('abcde', 2), ['ab', 'cd', 'e']);
    assert.throws(() => splitPieces('abc', 0), RangeError);
});

test('grouping keys are 128 bits from Web Crypto, never a counter', () => {
    const keys = new Set(Array.from({ length: 200 }, () => groupKey(webcrypto)));
    assert.equal(keys.size, 200);
    for (const key of keys)
        assert.match(key, /^[0-9a-f]{32}$/);
    const drawn = [];
    const fake = { getRandomValues: (array) => { drawn.push(array.length); array.fill(0xa5); return array; } };
    assert.equal(groupKey(fake), 'a5'.repeat(16));
    assert.deepEqual(drawn, [16]);
    assert.throws(() => groupKey(undefined), /Web Crypto/);
});

// The service's answer file for a text: 54-byte header, 4 pixels a row, each group of three text bytes
// stored last byte first.
function serviceBitmap(text) {
    const bytes = Buffer.from(text, 'utf8');
    const rows = Math.ceil(bytes.length / 12);
    const file = Buffer.alloc(54 + 12 * rows);
    file.write('BM', 0, 'latin1');
    file.writeUInt32LE(54 + 12 * rows, 2);
    file.writeUInt32LE(54, 10);
    file.writeUInt32LE(40, 14);
    file.writeInt32LE(4, 18);
    file.writeInt32LE(rows, 22);
    file.writeUInt16LE(1, 26);
    file.writeUInt16LE(24, 28);
    file.writeUInt32LE(12 * rows, 34);
    for (let i = 0; i < bytes.length; ++i)
        file[54 + i - (i % 3) + (2 - (i % 3))] = bytes[i];
    return new Uint8Array(file);
}

test('bitmap answers read back to their text, as files and as canvas pixels', () => {
    // The service's own "continue" answer: 66 bytes, pixels "nocnit\0eu\0\0\0".
    const cont = serviceBitmap('continue');
    assert.equal(cont.length, 66);
    assert.deepEqual([...cont.slice(54)], [...Buffer.from('nocnit\0eu\0\0\0', 'latin1')]);
    for (const text of ['continue', '', 'detect', '{"uuid":"{a}","note":"ü€"}', 'x'.repeat(1000)]) {
        const file = serviceBitmap(text);
        assert.equal(textFromBitmapFile(file), text);
        // A canvas gives RGBA with the top row first; the file's first row is the picture's bottom row.
        const rows = (file.length - 54) / 12;
        const rgba = new Uint8Array(rows * 16);
        for (let r = 0; r < rows; ++r) {
            for (let x = 0; x < 4; ++x) {
                const from = 54 + r * 12 + x * 3;
                const to = ((rows - 1 - r) * 4 + x) * 4;
                rgba.set([file[from + 2], file[from + 1], file[from], 255], to);
            }
        }
        assert.equal(textFromPixels(rgba, 4, rows), text);
    }
    assert.throws(() => textFromBitmapFile(new Uint8Array(10)), /not a bitmap/);
    assert.throws(() => textFromBitmapFile(serviceBitmap('continue').slice(0, 60)), /cut short/);
});

test('the image channel refuses a command the service could only cut', async () => {
    const { ImageRoad, MAX_PACKED_CHARS } = await import('../../web/client/src/roads.js');
    const requested = [];
    const road = new ImageRoad('http://127.0.0.1:1', { deflate, crypto: webcrypto, loadImage: async (url) => { requested.push(url); return 'continue'; } });
    // Random bytes do not compress: about 3.5 packed characters per byte.
    const big = Buffer.from(webcrypto.getRandomValues(new Uint8Array(60000))).toString('latin1').repeat(16);
    await assert.rejects(road.exchange(JSON.stringify({ cmd: 'x', big: Buffer.from(big, 'latin1').toString('base64') }), 5000),
        /too large for the image channel/);
    assert.equal(requested.length, 0);
    assert.ok(MAX_PACKED_CHARS < 2 * 1024 * 1024 * 4 / 3);
    assert.equal(await road.exchange('{"cmd":"x"}', 5000), 'continue');
    assert.equal(requested.length, 1);
});
