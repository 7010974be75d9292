// Glass-to-glass latency of cells rendered in the page, read from what the page shows: the local RTSP
// test stream's frame strip carries the wall clock at which each frame left for the encoder; headless
// Chromium draws every presented frame of the cell's <video> into a 2D canvas (requestVideoFrameCallback)
// and reads the clock back; the same with the page's own decoder (WebCodecs), read from the cell's
// <canvas> as each decoded frame is drawn into it (it reaches the screen with the next paint). Also the
// service's CPU (the player decodes its cell as well) and, from eight more viewers of the same cell, the
// share of one page stream's remuxing alone, from /proc.
//
//   cd tests/e2e && LS_SERVICE_BINARY=../../build/LocalService node ../../bench/page_stream/page-latency.mjs [seconds]
//
// Prints one JSON line per size and mode. The service runs headless, so its own cell is hidden and paints
// nothing: the native cell's figure, read the same way from its painted pixels, comes from build/bench_player.
import fs from 'node:fs';
import { chromium } from '../../tests/e2e/node_modules/playwright-core/index.mjs';
import WebSocket from '../../tests/e2e/node_modules/ws/wrapper.mjs';
import { startPageServer } from '../../tests/e2e/page-server.mjs';
import { startRtsp } from '../../tests/e2e/rtsp-stream.mjs';
import { startService } from '../../tests/e2e/service-process.mjs';

const seconds = Number(process.argv[2] || 20);
const quantile = (values, q) => {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))] : NaN;
};
const cpuSeconds = (pid) => {
    const fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').split(') ')[1].split(' ');
    return (Number(fields[11]) + Number(fields[12])) / 100; // utime and stime, in clock ticks of 10 ms
};

const service = await startService();
const pages = await startPageServer();
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'] });
try {
    for (const [width, height] of [[640, 360], [1920, 1080]]) {
        const rtsp = await startRtsp({ width, height, fps: 25 });
        if (!rtsp)
            throw new Error('no GStreamer RTSP server');
        // The cell's <video> through MediaSource, then the page's own decoder into a <canvas> (WebCodecs).
        for (const decoder of ['mediasource', 'webcodecs']) {
            const page = await browser.newPage({ viewport: { width: 1000, height: 700 } });
            await page.goto(`${pages.origin}/tests/e2e/client-page.html`);
            const mode = await page.evaluate(async ({ port, url, decoder }) => {
                const { connect } = await import('/web/client/src/index.js');
                const session = await connect({ ports: [port] });
                window.benchSession = session;
                const view = await session.attach(document.getElementById('video'), { render: 'page', decoder });
                await session.command('video.startPlay', { wndIndex: 0, url });
                const canvas = document.createElement('canvas');
                const context = canvas.getContext('2d', { willReadFrequently: true });
                window.latencies = [];
                // The clock in the strip (blocks 16-31) of what the cell shows, as it shows it.
                // Only the strip's row is copied, so that reading costs the page little at any size.
                const read = (source, width, height) => {
                    const now = Date.now();
                    canvas.width = width;
                    canvas.height = 1;
                    context.drawImage(source, 0, Math.floor(height / 20), width, 1, 0, 0, width, 1);
                    const block = canvas.width / 32;
                    const row = context.getImageData(0, 0, canvas.width, 1).data;
                    let clock = 0;
                    for (let bit = 16; bit < 32; ++bit)
                        clock |= (row[4 * Math.floor((bit + 0.5) * block)] > 128 ? 1 : 0) << (bit - 16);
                    window.latencies.push((now - clock + 65536) % 65536);
                };
                const cell = document.querySelector('#video [data-wnd-index="0"]');
                const drawn = cell.querySelector('canvas');
                if (drawn) {
                    drawn.addEventListener('frame', () => read(drawn, drawn.width, drawn.height));
                } else {
                    const video = cell.querySelector('video');
                    const onFrame = () => {
                        read(video, video.videoWidth, video.videoHeight);
                        video.requestVideoFrameCallback(onFrame);
                    };
                    video.requestVideoFrameCallback(onFrame);
                }
                return drawn ? 'webcodecs' : 'mediasource';
            }, { port: service.port, url: rtsp.url, decoder });
            // The first seconds (connecting, the first key frame) are left out.
            await new Promise((resolve) => setTimeout(resolve, 3000));
            await page.evaluate(() => { window.latencies = []; });
            const cpuBefore = cpuSeconds(service.child.pid);
            await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
            const cpu = (cpuSeconds(service.child.pid) - cpuBefore) / seconds;
            const { latencies, uuid } = await page.evaluate(() => ({ latencies: window.latencies, uuid: window.benchSession.uuid }));
            const figures = { size: `${width}x${height}`, mode, frames: latencies.length, pageP50ms: quantile(latencies, 0.5),
                pageP90ms: quantile(latencies, 0.9), serviceCpuShareOfACore: Number(cpu.toFixed(3)) };
            if (decoder === 'mediasource') {
                // The remux alone: the same cell to EXTRA more viewers, the service's CPU with them less without.
                const EXTRA = 8;
                const viewers = Array.from({ length: EXTRA }, () => new WebSocket(
                    `ws://127.0.0.1:${service.port}/stream?uuid=${encodeURIComponent(uuid)}&wndIndex=0`, { origin: pages.origin }));
                await new Promise((resolve) => setTimeout(resolve, 3000));
                const extraBefore = cpuSeconds(service.child.pid);
                await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
                figures.remuxCpuShareOfACorePerStream = Number((((cpuSeconds(service.child.pid) - extraBefore) / seconds - cpu) / EXTRA).toFixed(4));
                viewers.forEach((viewer) => viewer.close());
            }
            console.log(JSON.stringify(figures));
            await page.evaluate(() => window.benchSession.close());
            await page.close();
        }
        rtsp.stop();
    }
} finally {
    await browser.close();
    pages.close();
    service.stop();
}
