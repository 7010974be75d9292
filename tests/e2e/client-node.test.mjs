// The client library from Node against the real service: the WebSocket class and Web Crypto are handed
// in (ws, node:crypto), as a Node program without browser globals would; the image channel packs with
// Node's own CompressionStream, reads the service's own bitmaps, and the service's decoder unpacks the
// library's packing, pieces included.
import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { after, before, test } from 'node:test';
import WebSocket from 'ws';
import { connect } from '../../web/client/src/index.js';
import { startService } from './service-process.mjs';

let service;
before(async () => { service = await startService(); });
after(() => service?.stop());

const environment = { WebSocket, crypto: webcrypto, fetch: globalThis.fetch };

// Every road, the image channel included: its pieces are separate requests that Node's fetch would put on a
// kept-alive connection had the service not said that each connection ends after its answer.
for (const road of ['websocket', 'http', 'image']) {
    test(`${road} from Node: connect, page check, a long command, the empty answer, close`, async () => {
        const session = await connect({ ...environment, ports: { start: service.port, end: service.port + 2 }, road,
            pieceSize: 40, detect: { user: 'node user', iterations: 7, challenge: 'c0ffee', random: 99 } });
        assert.equal(session.road.kind, road);
        assert.equal(session.pageCheck, true);
        // Long enough for many pieces of 40 packed characters on the image channel.
        const note = 'ü€'.repeat(200);
        const version = await session.command('window.getLocalServiceVersion', { note });
        assert.equal(version.localServiceVersion, '1.0.0.40');
        assert.equal(version.uuid, session.uuid);
        assert.equal(await session.command('video.getLastError'), '');
        await session.close();
        await assert.rejects(session.command('video.getLastError'), { code: 'closed' });
    });
}
