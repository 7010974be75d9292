// The local RTSP test stream (tests/standins/rtsp_test_server.py) for the end-to-end tests.
import { spawn } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));

/**
 * Starts the server; resolves to { url, stop }, or null when GStreamer's RTSP server is missing.
 * @param {{width?: number, height?: number, fps?: number, codec?: 'h264' | 'h265'}} size
 */
export function startRtsp({ width = 320, height = 240, fps = 25, codec = 'h264' } = {}) {
    const script = path.join(here, '../standins/rtsp_test_server.py');
    const child = spawn('/usr/bin/python3', [script, '--width', String(width), '--height', String(height), '--fps', String(fps), '--codec', codec],
        { stdio: ['ignore', 'pipe', 'ignore'] });
    const stop = () => child.kill('SIGKILL');
    process.once('exit', stop);
    return new Promise((resolve) => {
        let text = '';
        child.stdout.on('data', (chunk) => {
            text += chunk;
            const ready = /ready (\d+)/.exec(text);
            if (ready)
                resolve({ url: `rtsp://127.0.0.1:${ready[1]}/test`, stop });
        });
        child.once('exit', () => resolve(null));
    });
}
