// Starts the real LocalService from a temp dir of its own, with its own LocalServiceConfig.json, free high
// ports (or the given first port, to start it again where it was), a unique instance name and any further
// members in config, headless or on the X display named in env. The binary comes from LS_SERVICE_BINARY (set by CTest).
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const portIsFree = (port) => new Promise((resolve) => {
    const server = net.createServer();
    server.once('error', () => resolve(false));
    server.listen(port, '0.0.0.0', () => server.close(() => resolve(true)));
});

export async function freePortRange(count) {
    for (let attempt = 0; attempt < 200; ++attempt) {
        const base = 20000 + Math.floor(Math.random() * 40000);
        let free = true;
        for (let i = 0; i < count && free; ++i)
            free = await portIsFree(base + i);
        if (free)
            return base;
    }
    throw new Error('no free port range');
}

const accepts = (port) => new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
});

export async function startService({ ports = 3, port: firstPort, platform = 'offscreen', env = {}, config = {} } = {}) {
    const binary = process.env.LS_SERVICE_BINARY;
    if (!binary)
        throw new Error('LS_SERVICE_BINARY is not set');
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ls-e2e-'));
    const executable = path.join(dir, 'LocalService');
    fs.copyFileSync(binary, executable);
    fs.chmodSync(executable, 0o755);
    const port = firstPort ?? await freePortRange(ports);
    fs.writeFileSync(path.join(dir, 'LocalServiceConfig.json'), JSON.stringify({
        ServicePortStart: port, ServicePortEnd: port + ports, SingleInstance: `ls-e2e-${crypto.randomUUID()}`,
        ...config,
    }));
    const child = spawn(executable, [], {
        cwd: dir,
        env: { ...process.env, ...env, QT_QPA_PLATFORM: platform, QT_MESSAGE_PATTERN: '%{message}' },
        stdio: ['ignore', 'pipe', 'pipe'],
    });
    let log = '';
    child.stdout.on('data', (chunk) => { log += chunk; });
    child.stderr.on('data', (chunk) => { log += chunk; });
    const stop = () => {
        child.kill('SIGKILL');
        fs.rmSync(dir, { recursive: true, force: true });
    };
    for (const started = Date.now(); !(await accepts(port));) {
        if (Date.now() - started > 10000 || child.exitCode !== null) {
            stop();
            throw new Error(`the service did not listen on ${port}: ${log}`);
        }
        await new Promise((resolve) => setTimeout(resolve, 20));
    }
    return { port, child, stop, log: () => log };
}

// The page's side of "detectport": HMAC-SHA-256, keyed with the hex SHA-256 of user, iterations and
// challenge, over the login capabilities path followed by user and random.
export function pageDigest({ user, iterations, challenge, random }) {
    const key = crypto.createHash('sha256').update(`${user}${iterations}${challenge}`).digest('hex');
    return crypto.createHmac('sha256', key)
        .update(`GET/DEVAPI/Security/sessionLogin/capabilities${user}${random}`).digest('hex');
}
