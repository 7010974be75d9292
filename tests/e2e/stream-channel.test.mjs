// The stream channel: a page's WebSocket at /stream carries one cell of its own session remuxed into
// fragmented MP4 (the codec as text, the init segment, then a fragment per frame), under the same Host,
// Origin and session checks as commands; other sessions, refused origins and codecs the page does not
// decode get nothing.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import WebSocket from 'ws';
import { startRtsp } from './rtsp-stream.mjs';
import { startService } from './service-process.mjs';

const PAGE = 'http://localhost:8080';
let service;
let rtsp;

before(async () => {
    // The clips the tests make are played from the temp folder.
    service = await startService({ config: { MediaDirectories: [os.tmpdir()] } });
    rtsp = await startRtsp();
});
after(() => {
    service?.stop();
    rtsp?.stop();
});

const waitFor = async (what, check, ms = 20000) => {
    for (const started = Date.now(); Date.now() - started < ms;) {
        const value = await check();
        if (value)
            return value;
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
    throw new Error(`timed out waiting for ${what}`);
};

/** A session as a page of origin opens it, with a hidden window of cells (headless: no browser to find). */
async function openSession(origin = PAGE) {
    const socket = new WebSocket(`ws://127.0.0.1:${service.port}/`, { origin });
    const answers = new Map();
    socket.on('message', (data) => {
        const message = JSON.parse(data.toString());
        answers.set(String(message.sequence ?? 'connect'), message);
    });
    await new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); });
    socket.send(JSON.stringify({ cmd: 'system.webconnect' }));
    const { uuid } = await waitFor('the connect reply', () => answers.get('connect'));
    let sequence = 0;
    const command = async (cmd, members = {}) => {
        const id = String(++sequence);
        socket.send(JSON.stringify({ cmd, uuid, sequence: id, ...members }));
        return waitFor(cmd, () => answers.get(id));
    };
    return { uuid, command, close: () => socket.close() };
}

/** A stream channel; its messages in order, and how it ended. */
function openStream(query, { origin = PAGE, host = undefined } = {}) {
    const socket = new WebSocket(`ws://127.0.0.1:${service.port}/stream?${new URLSearchParams(query)}`,
        { origin, ...(host ? { headers: { Host: host } } : {}) });
    const channel = { socket, texts: [], binaries: [], closed: false, status: 0 };
    socket.on('message', (data, isBinary) => (isBinary ? channel.binaries : channel.texts).push(isBinary ? data : JSON.parse(data)));
    socket.on('close', () => { channel.closed = true; });
    socket.on('unexpected-response', (request, response) => { channel.status = response.statusCode; channel.closed = true; });
    socket.on('error', () => { channel.closed = true; });
    return channel;
}

/** A session whose cell 0 plays a file ffmpeg makes from a test source; null without the encoder. */
async function playFile(t, source, encode) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-stream-'));
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    const file = path.join(dir, 'stream.mp4');
    if (spawnSync('ffmpeg', ['-v', 'error', '-f', 'lavfi', '-i', source, ...encode, file]).status !== 0)
        return null;
    const session = await openSession();
    await session.command('window.createWnd', { rect: { left: 0, top: 0, width: 320, height: 240 } });
    await session.command('video.startPlay', { wndIndex: 0, url: file });
    return session;
}

const boxType = (bytes, at = 0) => bytes.subarray(at + 4, at + 8).toString('latin1');

/** The sequence number of a fragment (its moof's mfhd). */
function sequenceOf(fragment) {
    const moofStart = 8;
    for (let at = moofStart; at + 8 <= fragment.length;) {
        if (boxType(fragment, at) === 'mfhd')
            return fragment.readUInt32BE(at + 12);
        at += fragment.readUInt32BE(at);
    }
    return -1;
}

/** Whether a fragment's first sample is a key frame (no "non-sync" flag in trun or tfhd). */
function startsWithKeyFrame(fragment) {
    const children = (start, end) => {
        const found = {};
        for (let at = start; at + 8 <= end;) {
            const size = fragment.readUInt32BE(at);
            found[boxType(fragment, at)] = { start: at + 8, end: at + size };
            at += Math.max(size, 8);
        }
        return found;
    };
    const traf = children(children(0, fragment.length).moof.start, fragment.length).traf;
    const { tfhd, trun } = children(traf.start, traf.end);
    const trunFlags = fragment.readUInt32BE(trun.start) & 0xffffff;
    let sampleFlags;
    if (trunFlags & 0x4)
        sampleFlags = fragment.readUInt32BE(trun.start + 8 + (trunFlags & 0x1 ? 4 : 0));
    else if (trunFlags & 0x400)
        sampleFlags = fragment.readUInt32BE(trun.start + 8 + (trunFlags & 0x1 ? 4 : 0) + (trunFlags & 0x100 ? 4 : 0) + (trunFlags & 0x200 ? 4 : 0));
    else {
        const tfhdFlags = fragment.readUInt32BE(tfhd.start) & 0xffffff;
        let at = tfhd.start + 8;
        for (const [flag, size] of [[0x1, 8], [0x2, 4], [0x8, 4], [0x10, 4]])
            at += tfhdFlags & flag ? size : 0;
        sampleFlags = tfhdFlags & 0x20 ? fragment.readUInt32BE(at) : 0;
    }
    return (sampleFlags & 0x10000) === 0;
}

test('a page plays a cell of its own session: codec, init segment, then one fragment per frame from a key frame', async (t) => {
    if (!rtsp)
        return t.skip('no GStreamer RTSP server');
    const session = await openSession();
    assert.equal((await session.command('window.createWnd', { rect: { left: 0, top: 0, width: 320, height: 240 } })).errorCode, 5001);
    await session.command('video.arrangeWindow', { windowNum: 4 });
    assert.equal((await session.command('video.startPlay', { wndIndex: 2, url: rtsp.url })).errorCode, 0);
    const channel = openStream({ uuid: session.uuid, wndIndex: 2 });
    await waitFor('25 fragments', () => channel.binaries.length >= 26 || channel.closed);
    assert.equal(channel.closed, false, JSON.stringify(channel.texts));
    assert.deepEqual(channel.texts.length, 1);
    assert.match(channel.texts[0].codec, /^avc1\.[0-9A-F]{6}$/);
    assert.deepEqual([channel.texts[0].width, channel.texts[0].height], [320, 240]);
    const [init, first, ...rest] = channel.binaries;
    assert.deepEqual([boxType(init), boxType(init, init.readUInt32BE(0))], ['ftyp', 'moov']);
    for (const fragment of [first, ...rest])
        assert.equal(boxType(fragment), 'moof');
    assert.equal(startsWithKeyFrame(first), true);
    assert.equal(rest.filter(startsWithKeyFrame).length < rest.length, true, 'every fragment a key frame');

    // The cell stops: the channel says so and ends.
    await session.command('video.stop', { wndIndex: 2 });
    await waitFor('the end of the stream', () => channel.closed);
    assert.deepEqual(channel.texts.at(-1), { event: 'ended' });
    session.close();
});

test('refusals: other sessions, other pages, wrong cells and refused origins open nothing', async (t) => {
    if (!rtsp)
        return t.skip('no GStreamer RTSP server');
    const owner = await openSession();
    await session(owner);
    const other = await openSession('http://192.168.1.20');
    const cases = [
        ['no session named', { wndIndex: 0 }, PAGE, 6001],
        ['no cell named', { uuid: owner.uuid }, PAGE, 6001],
        ['an identifier that is no session', { uuid: '{00000000-0000-0000-0000-000000000000}', wndIndex: 0 }, PAGE, 6002],
        ['another page opens the first one\'s stream', { uuid: owner.uuid, wndIndex: 0 }, 'http://192.168.1.20', 6002],
        ['a stream channel is no session', { uuid: '', wndIndex: 0 }, PAGE, 6001],
        ['a session without a window', { uuid: other.uuid, wndIndex: 0 }, 'http://192.168.1.20', 6003],
        ['a cell that does not exist', { uuid: owner.uuid, wndIndex: 4 }, PAGE, 6004],
        ['a cell that plays nothing', { uuid: owner.uuid, wndIndex: 1 }, PAGE, 6005],
    ];
    for (const [name, query, origin, errorCode] of cases) {
        const channel = openStream(query, { origin });
        await waitFor(name, () => channel.closed);
        assert.equal(channel.texts.at(-1)?.errorCode, errorCode, name);
        assert.equal(channel.binaries.length, 0, name);
    }
    // Refused by the listener's gate before any handshake: a public page, a sandboxed frame, a rebinding name.
    for (const refused of [{ origin: 'https://public.example' }, { origin: 'null' }, { host: 'rebind.example:80' }]) {
        const channel = openStream({ uuid: owner.uuid, wndIndex: 0 }, refused);
        await waitFor(JSON.stringify(refused), () => channel.closed);
        assert.equal(channel.status, 403, JSON.stringify(refused));
        assert.equal(channel.texts.length + channel.binaries.length, 0, JSON.stringify(refused));
    }
    // A session's stream channels are bounded: 64 open, the next refused.
    const open = Array.from({ length: 64 }, () => openStream({ uuid: owner.uuid, wndIndex: 0 }));
    await waitFor('64 streams', () => open.every((channel) => channel.texts.length > 0));
    const beyond = openStream({ uuid: owner.uuid, wndIndex: 0 });
    await waitFor('the 65th stream', () => beyond.closed);
    assert.equal(beyond.texts.at(-1)?.errorCode, 6007);
    assert.equal(open.some((channel) => channel.closed), false);
    open.forEach((channel) => channel.socket.close());
    owner.close();
    other.close();

    async function session(page) {
        await page.command('window.createWnd', { rect: { left: 0, top: 0, width: 320, height: 240 } });
        await page.command('video.arrangeWindow', { windowNum: 4 });
        await page.command('video.startPlay', { wndIndex: 0, url: rtsp.url });
    }
});

test('H.265 goes as it is to a page that decodes it, and as H.264 to one that does not: transcoded, with its cost, within a limit', async (t) => {
    const h265 = await startRtsp({ codec: 'h265' });
    if (!h265)
        return t.skip('no GStreamer H.265 RTSP server');
    t.after(() => h265.stop());
    const session = await openSession();
    await session.command('window.createWnd', { rect: { left: 0, top: 0, width: 320, height: 240 } });
    assert.equal((await session.command('video.startPlay', { wndIndex: 0, url: h265.url })).errorCode, 0);
    const stream = (codecs) => openStream({ uuid: session.uuid, wndIndex: 0, ...(codecs ? { codecs } : {}) });
    // Resolves once a channel has its codec text, or has closed.
    const started = (channel, what) => waitFor(what, () => channel.closed || channel.texts.some((text) => text.codec), 30000);

    const taken = stream('avc1,hvc1');
    const transcoded = stream(); // "avc1" only
    await waitFor('an H.265 fragment', () => taken.binaries.length >= 2 || taken.closed);
    assert.match(taken.texts[0].codec, /^hvc1\./);
    assert.equal(taken.texts.some((text) => text.event === 'transcoding'), false, 'a stream the page decodes was transcoded');

    await waitFor('50 transcoded frames and their cost', () => transcoded.closed
        || (transcoded.binaries.length >= 51 && transcoded.texts.some((text) => text.cpuPercent !== undefined)), 30000);
    assert.equal(transcoded.closed, false, JSON.stringify(transcoded.texts));
    const [announced, codec] = transcoded.texts;
    assert.equal(announced.event, 'transcoding');
    assert.match(announced.from, /^hvc1\./);
    assert.match(codec.codec, /^avc1\.[0-9A-F]{6}$/);
    assert.deepEqual([codec.width, codec.height], [320, 240]);
    const { cpuPercent } = transcoded.texts.find((text) => text.cpuPercent !== undefined);
    assert.ok(cpuPercent > 0 && cpuPercent <= 100.5, `cost ${cpuPercent} % of a core`);
    assert.equal(startsWithKeyFrame(transcoded.binaries[1]), true);
    // What the page got decodes: the init segment and every fragment, as one file, frame for frame and
    // without a decoder's complaint.
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-transcoded-'));
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    const file = path.join(dir, 'transcoded.mp4');
    fs.writeFileSync(file, Buffer.concat(transcoded.binaries));
    const probe = spawnSync('ffprobe', ['-v', 'error', '-count_frames', '-select_streams', 'v:0', '-show_entries',
        'stream=codec_name,width,height,nb_read_frames', '-of', 'json', file], { encoding: 'utf8' });
    assert.deepEqual([probe.status, probe.stderr], [0, '']);
    const [probed] = JSON.parse(probe.stdout).streams;
    assert.deepEqual([probed.codec_name, probed.width, probed.height], ['h264', 320, 240]);
    assert.equal(Number(probed.nb_read_frames), transcoded.binaries.length - 1);

    // Four streams are transcoded at once; the fifth page is refused until one of them closes.
    const more = [stream(), stream(), stream()];
    await Promise.all(more.map((channel, i) => started(channel, `transcoded stream ${i + 2}`)));
    assert.equal(more.some((channel) => channel.closed), false, JSON.stringify(more.map((channel) => channel.texts)));
    const cases = [
        ['a fifth transcoded stream', undefined, 6008],
        ['a page that decodes neither H.265 nor H.264', 'vp09', 6006],
    ];
    for (const [name, codecs, errorCode] of cases) {
        const refused = stream(codecs);
        await waitFor(name, () => refused.closed);
        assert.equal(refused.texts.at(-1)?.errorCode, errorCode, name);
        assert.equal(refused.binaries.length, 0, name);
    }
    more.pop().socket.close();
    await waitFor('a transcoder freed', async () => {
        const again = stream();
        await started(again, 'a stream after one closed');
        more.push(again);
        return !again.closed;
    }, 30000);

    // The cell stops: every channel, transcoded or not, says so and ends.
    await session.command('video.stop', { wndIndex: 0 });
    const open = [taken, transcoded, ...more.filter((channel) => !channel.closed)];
    await waitFor('the end of the streams', () => open.every((channel) => channel.closed));
    for (const channel of open)
        assert.deepEqual(channel.texts.at(-1), { event: 'ended' });
    session.close();
});

test('a viewer that stops reading is dropped to the next key frame, and the service\'s memory stays bounded', async (t) => {
    // Noise at a high quality: about 2 MB/s, so that what a page does not read piles up quickly.
    const session = await playFile(t, "nullsrc=s=320x240:r=25,geq=lum='random(1)*255':cb=128:cr=128",
        ['-t', '30', '-c:v', 'libx264', '-preset', 'ultrafast', '-qp', '12', '-g', '25']);
    if (!session)
        return t.skip('no H.264 encoder');
    const channel = openStream({ uuid: session.uuid, wndIndex: 0 });
    await waitFor('the first fragment', () => channel.binaries.length >= 2);
    channel.socket._socket.pause(); // the page stops reading

    const rss = () => Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${service.child.pid}/status`, 'latin1'))[1]) * 1024;
    await waitFor('frames dropped', () => service.log().includes('page stream behind'));
    const first = rss();
    await new Promise((resolve) => setTimeout(resolve, 8000)); // about 17 MB more of the stream meanwhile
    // A sanitizer's quarantine keeps freed memory in the process: there only what the page gets counts.
    const grown = rss() - first;
    if (!process.env.ASAN_OPTIONS)
        assert.ok(grown < 4 * 1024 * 1024, `the service grew by ${grown} bytes while the page did not read`);

    // What was held for the page (in the service and in the sockets) arrives first once it reads again;
    // then, after a gap in the fragments' sequence numbers, the stream goes on from a key frame.
    const before = channel.binaries.length;
    channel.socket._socket.resume();
    const gapAt = () => {
        const sequences = channel.binaries.map((fragment, i) => (i === 0 ? -1 : sequenceOf(fragment)));
        return sequences.findIndex((value, i) => i > 1 && value !== sequences[i - 1] + 1);
    };
    await waitFor('fragments after the drop', () => gapAt() > 0, 30000);
    const resumedAt = gapAt();
    const held = channel.binaries.slice(before, resumedAt).reduce((sum, fragment) => sum + fragment.length, 0);
    assert.ok(held < 8 * 1024 * 1024, `${held} bytes were held for the page`);
    assert.equal(startsWithKeyFrame(channel.binaries[resumedAt]), true, 'the page resumed at a frame that is not a key frame');
    session.close();
});
