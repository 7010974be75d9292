// Serves the repository's web/ and tests/e2e/ folders read-only to a test browser, from a local origin
// other than the service's ("localhost" against the service's "127.0.0.1"), the way a user serves the
// demo from the repository's root.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const types = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css' };

export async function startPageServer() {
    const server = http.createServer((request, response) => {
        const pathname = decodeURIComponent(new URL(request.url, 'http://x').pathname);
        const file = path.resolve(root, '.' + pathname + (pathname.endsWith('/') ? 'index.html' : ''));
        const allowed = ['web', 'tests/e2e'].some((folder) => file.startsWith(path.join(root, folder) + path.sep));
        if (!allowed || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' })
            .end(fs.readFileSync(file));
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return { origin: `http://localhost:${server.address().port}`, close: () => server.close() };
}
