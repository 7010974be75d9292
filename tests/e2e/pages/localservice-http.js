// A test page's client of LocalService over plain HTTP, written out apart from the client library so that the
// tests check the wire forms themselves.
//
// Three roads, all to the service's port:
// - commands as POST bodies (a "simple" cross-origin request: text/plain, no preflight), answered with
//   the answer text;
// - events by long-poll: "system.get" is parked by the service until an event of the session arrives
//   ("timeout" then, the next poll gets it) or 15 s pass ("timeout");
// - the image channel: a command packed into the URL of <img> requests, answered by tiny bitmaps whose
//   pixels carry the answer text.
//
// The image channel needs the global `pako` (zlib) loaded before this file.
//
// Pages use the client library in web/client/, which covers these roads and WebSocket; this file stays
// as the raw-road fixture of the HTTP browser test (tests/e2e/tst_http_browser.cpp).
(function (global) {
    'use strict';

    // POST one command object; resolves with the answer text.
    async function postCommand(base, command) {
        const answer = await fetch(base + '/', {
            method: 'POST',
            headers: { 'Content-Type': 'text/plain' },
            body: JSON.stringify(command),
        });
        return answer.text();
    }

    // Packs a command text as the image channel wants it, from inside out: UTF-8, zlib (RFC 1950),
    // the bytes as comma-joined decimals, Base64. URL encoding is applied per piece.
    function packCommand(text) {
        const deflated = global.pako.deflate(new TextEncoder().encode(text));
        return btoa(Array.from(deflated).join(','));
    }

    // Splits packed text into pieces of at most size characters (at least one piece).
    function splitPieces(packed, size) {
        const pieces = [];
        for (let at = 0; at < packed.length; at += size)
            pieces.push(packed.slice(at, at + size));
        return pieces.length ? pieces : [''];
    }

    // Reads the answer text out of a bitmap answer: 4 pixels a row, the first row of the file is the
    // bottom row of the picture, each pixel's red, green and blue are three bytes of the text, which
    // ends at the first zero byte.
    function decodeBitmap(image) {
        const width = image.naturalWidth;
        const height = image.naturalHeight;
        const canvas = document.createElement('canvas');
        canvas.width = width;
        canvas.height = height;
        const context = canvas.getContext('2d', { colorSpace: 'srgb', willReadFrequently: true });
        context.drawImage(image, 0, 0);
        const pixels = context.getImageData(0, 0, width, height).data;
        const bytes = [];
        for (let row = height - 1; row >= 0; --row) {
            for (let x = 0; x < width; ++x) {
                const at = (row * width + x) * 4;
                bytes.push(pixels[at], pixels[at + 1], pixels[at + 2]);
            }
        }
        const end = bytes.indexOf(0);
        return new TextDecoder().decode(new Uint8Array(end < 0 ? bytes : bytes.slice(0, end)));
    }

    // Loads one image answer (cross-origin, readable through the canvas) and decodes it.
    function imageRequest(url) {
        return new Promise((resolve, reject) => {
            const image = new Image();
            image.crossOrigin = 'anonymous';
            image.onload = () => {
                try {
                    resolve(decodeBitmap(image));
                } catch (error) {
                    reject(error);
                }
            };
            image.onerror = () => reject(new Error('image request failed: ' + url));
            image.src = url;
        });
    }

    // Sends one command over the image channel, split into pieces of pieceSize packed characters, all
    // with the same sequence. Resolves with the decoded answer of every piece, the last being the
    // command's answer text.
    async function imageCommand(base, command, sequence, pieceSize) {
        const pieces = splitPieces(packCommand(JSON.stringify(command)), pieceSize);
        const answers = [];
        for (let i = 0; i < pieces.length; ++i) {
            // The service finds a field only behind an "&", so the query never starts with one.
            let url = base + '/?t=' + Date.now() + '&sequence=' + encodeURIComponent(sequence) +
                '&data=' + encodeURIComponent(pieces[i]);
            if (i === pieces.length - 1)
                url += '&isLast=true';
            answers.push(await imageRequest(url));
        }
        return answers;
    }

    // The page check over the image channel: resolves true when the service answered the image of
    // "detect", false when the image did not load (a failed check gets no image).
    async function detect(base, fields) {
        const query = Object.keys(fields).map((key) => '&' + key + '=' + encodeURIComponent(fields[key]));
        try {
            return (await imageRequest(base + '/?t=' + Date.now() + query.join(''))) === 'detect';
        } catch (error) {
            return false;
        }
    }

    // Keeps one "system.get" outstanding until an answer other than "timeout" arrives or maxPolls
    // polls were answered. Resolves with every answer in order.
    async function pollUntilEvent(base, uuid, maxPolls) {
        const answers = [];
        while (answers.length < maxPolls) {
            const answer = await postCommand(base, { cmd: 'system.get', uuid });
            answers.push(answer);
            if (answer !== 'timeout')
                break;
        }
        return answers;
    }

    global.LocalServiceHttp = { postCommand, packCommand, splitPieces, decodeBitmap, imageRequest, imageCommand, detect,
        pollUntilEvent };
})(window);
