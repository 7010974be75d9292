// The page's reading of the stream channel's MP4 pieces for its own decoder: the configuration record and
// time scale of an init segment, a fragment's time, key flag and frame, in each of the layouts the
// format allows, and nothing from boxes that do not fit.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { readFragment, readInit } from '../../web/client/src/fmp4.js';

const u32 = (value) => [value >>> 24, (value >>> 16) & 0xff, (value >>> 8) & 0xff, value & 0xff];
const u64 = (value) => [...u32(Math.floor(value / 2 ** 32)), ...u32(value % 2 ** 32)];
const box = (type, ...payload) => {
    const bytes = payload.flat();
    return [...u32(bytes.length + 8), ...[...type].map((c) => c.charCodeAt(0)), ...bytes];
};
const buffer = (bytes) => new Uint8Array(bytes).buffer;
const zeros = (count) => new Array(count).fill(0);

function init({ mdhdVersion = 0, record = 'avcC' } = {}) {
    const mdhd = mdhdVersion === 1 ? [1, 0, 0, 0, ...zeros(16), ...u32(90000), ...u64(0), 0, 0, 0, 0]
        : [0, 0, 0, 0, ...zeros(8), ...u32(90000), ...u32(0), 0, 0, 0, 0];
    const entry = box(record === 'hvcC' ? 'hvc1' : 'avc1', zeros(78), box(record, [1, 0x42, 0xc0, 0x1e]));
    const stsd = box('stsd', [0, 0, 0, 0], u32(1), entry);
    return buffer(box('ftyp', [...'isom'].map((c) => c.charCodeAt(0)))
        .concat(box('moov', box('trak', box('mdia', box('mdhd', mdhd), box('minf', box('stbl', stsd)))))));
}

test('an init segment gives its configuration record and time scale', () => {
    for (const [name, options, record] of [['avcC, mdhd version 0', {}, 'avcC'], ['hvcC, mdhd version 1', { mdhdVersion: 1, record: 'hvcC' }, 'hvcC']]) {
        const found = readInit(init(options));
        assert.equal(found?.timescale, 90000, name);
        assert.deepEqual([...new Uint8Array(found.description)], [1, 0x42, 0xc0, 0x1e], `${name}: ${record}`);
    }
    assert.equal(readInit(buffer(box('ftyp', zeros(4)))), undefined);
    // Truncated anywhere: no record, and no throw.
    const whole = new Uint8Array(init());
    for (let cut = 0; cut < whole.length; ++cut)
        assert.equal(readInit(whole.slice(0, cut).buffer), undefined, `cut at ${cut}`);
});

const NON_SYNC = 0x10000;
function fragment({ tfdtVersion = 1, time = 3600, where = 'first', flags = 0, frame = [9, 8, 7] } = {}) {
    const tfhdFlags = where === 'tfhd' ? 0x20 : 0;
    const tfhd = box('tfhd', [0, ...u32(tfhdFlags).slice(1)], u32(1), where === 'tfhd' ? u32(flags) : []);
    const tfdt = tfdtVersion === 1 ? box('tfdt', [1, 0, 0, 0], u64(time)) : box('tfdt', [0, 0, 0, 0], u32(time));
    const trun = where === 'first' ? box('trun', [0, 0, 0, 0x05], u32(1), u32(0), u32(flags))
        : where === 'sample' ? box('trun', [0, 0, 0x07, 0x01], u32(1), u32(0), u32(3000), u32(frame.length), u32(flags))
            : box('trun', [0, 0, 0, 0x01], u32(1), u32(0));
    return buffer(box('moof', box('mfhd', zeros(8)), box('traf', tfhd, tfdt, trun)).concat(box('mdat', frame)));
}

test('a fragment gives its time, key flag and frame, wherever the sample flags are', () => {
    const cases = [
        ['first-sample flags, a key frame', { where: 'first', flags: 0x2000000 }, true],
        ['first-sample flags, a frame that needs others', { where: 'first', flags: NON_SYNC }, false],
        ['per-sample flags after duration and size', { where: 'sample', flags: NON_SYNC }, false],
        ['per-sample flags, a key frame', { where: 'sample', flags: 0 }, true],
        ['tfhd default flags', { where: 'tfhd', flags: NON_SYNC }, false],
        ['no flags at all: a key frame', { where: 'none' }, true],
        ['tfdt version 0', { tfdtVersion: 0, time: 1234 }, true],
        ['tfdt version 1 beyond 32 bits', { time: 2 ** 33 + 5 }, true],
    ];
    for (const [name, options, key] of cases) {
        const found = readFragment(fragment(options));
        assert.equal(found?.key, key, name);
        assert.equal(found.time, options.time ?? 3600, name);
        assert.deepEqual([...found.data], [9, 8, 7], name);
    }
    const whole = new Uint8Array(fragment());
    const mdatAt = whole.length - 11;
    for (let cut = 0; cut < mdatAt; ++cut)
        assert.equal(readFragment(whole.slice(0, cut).buffer), undefined, `cut at ${cut}`);
    // A box that claims more than there is ends the reading there.
    const lying = new Uint8Array(fragment());
    lying.set(u32(0x7fffffff), mdatAt);
    assert.equal(readFragment(lying.buffer), undefined);
});
