// What transcoding an H.265 camera to H.264 for a page costs: the local RTSP test stream in H.265 at
// 640 x 360 and 1920 x 1080, 25 fps (a flat picture with its frame strip: cheap to code), and a file of
// FFmpeg's busier testsrc2 pattern in H.265 at the same sizes, to a stream channel that names avc1 only. Reports the transcoder's
// own measure (its "transcoding" events, percent of one core), the service's whole CPU with and without
// the transcoded viewer (from /proc; a second viewer takes the H.265 as it is, which costs little), and the
// frames per second the transcoded page got beside those the camera sent.
//
//   cd tests/e2e && LS_SERVICE_BINARY=../../build/LocalService node ../../bench/page_stream/transcode-cost.mjs [seconds]
//
// Prints one JSON line per size.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import WebSocket from '../../tests/e2e/node_modules/ws/wrapper.mjs';
import { startRtsp } from '../../tests/e2e/rtsp-stream.mjs';
import { startService } from '../../tests/e2e/service-process.mjs';

const seconds = Number(process.argv[2] || 20);
const ORIGIN = 'http://localhost:8080';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const cpuSeconds = (pid) => {
    const fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').split(') ')[1].split(' ');
    return (Number(fields[11]) + Number(fields[12])) / 100;
};
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-transcode-'));
const service = await startService({ config: { MediaDirectories: [dir] } });
/** An H.265 file of testsrc2 long enough for the run (files play at their own pace, 25 fps). */
function busyFile(width, height) {
    const file = path.join(dir, `testsrc2-${width}x${height}.mp4`);
    const made = spawnSync('ffmpeg', ['-v', 'error', '-f', 'lavfi', '-i', `testsrc2=size=${width}x${height}:rate=25`,
        '-t', String(2 * seconds + 10), '-c:v', 'libx265', '-preset', 'ultrafast', '-x265-params', 'log-level=none:keyint=25', file]);
    if (made.status !== 0)
        throw new Error('no H.265 encoder in ffmpeg');
    return file;
}
try {
    for (const [width, height, source] of [[640, 360, 'rtsp'], [1920, 1080, 'rtsp'], [640, 360, 'testsrc2'], [1920, 1080, 'testsrc2']]) {
        const rtsp = source === 'rtsp' ? await startRtsp({ width, height, fps: 25, codec: 'h265' })
            : { url: busyFile(width, height), stop() {} };
        if (!rtsp)
            throw new Error('no GStreamer H.265 RTSP server');
        const socket = new WebSocket(`ws://127.0.0.1:${service.port}/`, { origin: ORIGIN });
        const answers = [];
        socket.on('message', (data) => answers.push(JSON.parse(data.toString())));
        await new Promise((resolve) => socket.once('open', resolve));
        socket.send(JSON.stringify({ cmd: 'system.webconnect' }));
        while (!answers.length)
            await sleep(20);
        const { uuid } = answers[0];
        for (const [i, cmd, members] of [[1, 'window.createWnd', { rect: { left: 0, top: 0, width: 640, height: 360 } }],
            [2, 'video.startPlay', { wndIndex: 0, url: rtsp.url }]]) {
            socket.send(JSON.stringify({ cmd, uuid, sequence: String(i), ...members }));
            while (!answers.some((answer) => answer.sequence === String(i)))
                await sleep(20);
        }
        await sleep(3000);
        const idleBefore = cpuSeconds(service.child.pid);
        await sleep(seconds * 1000);
        const playerOnly = (cpuSeconds(service.child.pid) - idleBefore) / seconds;

        const channel = new WebSocket(`ws://127.0.0.1:${service.port}/stream?uuid=${encodeURIComponent(uuid)}&wndIndex=0&codecs=avc1`, { origin: ORIGIN });
        const reports = [];
        let fragments = 0;
        let codec = '';
        channel.on('message', (data, binary) => {
            if (binary)
                return void ++fragments;
            const text = JSON.parse(data.toString());
            if (text.cpuPercent !== undefined)
                reports.push(text.cpuPercent);
            codec ||= text.codec ?? '';
        });
        // The camera's own frames, as a page that decodes H.265 gets them: what the transcoder is given.
        const direct = new WebSocket(`ws://127.0.0.1:${service.port}/stream?uuid=${encodeURIComponent(uuid)}&wndIndex=0&codecs=hvc1`, { origin: ORIGIN });
        let directFragments = 0;
        direct.on('message', (data, binary) => { directFragments += binary ? 1 : 0; });
        await sleep(3000);
        const before = cpuSeconds(service.child.pid);
        const fragmentsBefore = fragments;
        const directBefore = directFragments;
        reports.length = 0;
        await sleep(seconds * 1000);
        const withTranscode = (cpuSeconds(service.child.pid) - before) / seconds;
        console.log(JSON.stringify({
            size: `${width}x${height}`, source, codec, framesPerSecond: Number(((fragments - fragmentsBefore) / seconds).toFixed(1)),
            cameraFramesPerSecond: Number(((directFragments - directBefore) / seconds).toFixed(1)),
            transcoderReportsPercent: reports, transcoderMedianPercent: median(reports),
            serviceCpuPercentPlayerOnly: Number((playerOnly * 100).toFixed(1)),
            serviceCpuPercentWithTranscode: Number((withTranscode * 100).toFixed(1)),
        }));
        channel.close();
        direct.close();
        socket.close();
        rtsp.stop();
        await sleep(500);
    }
} finally {
    service.stop();
    fs.rmSync(dir, { recursive: true, force: true });
}
