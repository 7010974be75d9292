// The little of fragmented MP4 a page needs to hand a stream channel's frames to a VideoDecoder: the
// codec's configuration record and time scale from the init segment, and each fragment's frame (one
// sample per fragment, as the service writes them) with its time and whether it is a key frame.

/** The child boxes of bytes[start, end): the first of each type, as { start, end } of its payload. */
function children(view, start, end) {
    const found = {};
    for (let at = start; at + 8 <= end;) {
        let size = view.getUint32(at);
        let header = 8;
        if (size === 1 && at + 16 <= end) { // a 64-bit size
            size = Number(view.getBigUint64(at + 8));
            header = 16;
        } else if (size === 0) {
            size = end - at;
        }
        if (size < header || at + size > end)
            break; // a box that does not fit: what follows is not trusted
        const type = String.fromCharCode(view.getUint8(at + 4), view.getUint8(at + 5), view.getUint8(at + 6), view.getUint8(at + 7));
        found[type] ??= { start: at + header, end: at + size };
        at += size;
    }
    return found;
}

// A field that lies past the end of the bytes (a box shorter than its flags say) reads as nothing.
function guarded(read) {
    try {
        return read();
    } catch (error) {
        if (error instanceof RangeError)
            return undefined;
        throw error;
    }
}

const path = (view, box, ...types) => types.reduce((inside, type) => inside && children(view, inside.start, inside.end)[type], box);

/**
 * The init segment's time scale and the codec's configuration record (avcC or hvcC, VideoDecoder's
 * "description"); undefined when it has none.
 * @param {ArrayBuffer} buffer
 */
export function readInit(buffer) {
    return guarded(() => init(buffer));
}

function init(buffer) {
    const view = new DataView(buffer);
    const moov = children(view, 0, buffer.byteLength).moov;
    const mdia = path(view, moov, 'trak', 'mdia');
    const mdhd = path(view, mdia, 'mdhd');
    const stsd = path(view, mdia, 'minf', 'stbl', 'stsd');
    if (!mdhd || !stsd || stsd.end - stsd.start < 16)
        return undefined;
    const timescale = view.getUint32(mdhd.start + (view.getUint8(mdhd.start) === 1 ? 20 : 12));
    // The first sample entry (avc1, hvc1): 8 bytes of box header, then 78 of visual sample entry fields.
    const entry = { start: stsd.start + 8, end: stsd.start + 8 + view.getUint32(stsd.start + 8) };
    if (entry.end > stsd.end)
        return undefined;
    const records = children(view, entry.start + 86, entry.end);
    const record = records.avcC ?? records.hvcC;
    return record && timescale ? { timescale, description: buffer.slice(record.start, record.end) } : undefined;
}

/**
 * A fragment's frame: its decode time in the init segment's time scale, whether it is a key frame, and
 * its bytes; undefined when the fragment is not one.
 * @param {ArrayBuffer} buffer
 */
export function readFragment(buffer) {
    return guarded(() => fragment(buffer));
}

function fragment(buffer) {
    const view = new DataView(buffer);
    const top = children(view, 0, buffer.byteLength);
    const traf = path(view, top.moof, 'traf');
    const { tfhd, tfdt, trun } = traf ? children(view, traf.start, traf.end) : {};
    if (!tfhd || !trun || !top.mdat)
        return undefined;
    const time = !tfdt ? 0 : view.getUint8(tfdt.start) === 1 ? Number(view.getBigUint64(tfdt.start + 4)) : view.getUint32(tfdt.start + 4);
    // The first sample's flags: in trun (first-sample flags, or per sample), else tfhd's default.
    const trunFlags = view.getUint32(trun.start) & 0xffffff;
    let flags = 0;
    const afterOffset = trun.start + 8 + (trunFlags & 0x1 ? 4 : 0);
    if (trunFlags & 0x4) {
        flags = view.getUint32(afterOffset);
    } else if (trunFlags & 0x400) {
        flags = view.getUint32(afterOffset + (trunFlags & 0x100 ? 4 : 0) + (trunFlags & 0x200 ? 4 : 0));
    } else {
        const tfhdFlags = view.getUint32(tfhd.start) & 0xffffff;
        let at = tfhd.start + 8;
        for (const [flag, size] of [[0x1, 8], [0x2, 4], [0x8, 4], [0x10, 4]])
            at += tfhdFlags & flag ? size : 0;
        flags = tfhdFlags & 0x20 ? view.getUint32(at) : 0;
    }
    return { time, key: (flags & 0x10000) === 0, data: new Uint8Array(buffer, top.mdat.start, top.mdat.end - top.mdat.start) };
}
