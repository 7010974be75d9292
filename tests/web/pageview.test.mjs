// How a page view chooses its cells' decoder and the codecs its channels name, for each decoder option in
// browsers with and without WebCodecs and MediaSource: the codecs always come from the decoder chosen.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { chooseDecoder } from '../../web/client/src/pageview.js';

/** A browser window whose MediaSource and VideoDecoder take the codec families listed (null: no such API). */
function browser({ mediaSource = null, webCodecs = null, probeFails = false }) {
    const family = (codec) => codec.split('.')[0];
    const view = {};
    if (mediaSource)
        view.MediaSource = { isTypeSupported: (type) => mediaSource.includes(family(/codecs="([^"]+)"/.exec(type)[1])) };
    if (webCodecs) {
        view.VideoDecoder = class {
            static isConfigSupported(config) {
                if (probeFails)
                    return Promise.reject(new TypeError('broken'));
                return Promise.resolve({ supported: webCodecs.includes(family(config.codec)), config });
            }
        };
        view.EncodedVideoChunk = class {};
    }
    return view;
}

test('the decoder a view uses, and the codecs its channels name', async () => {
    const cases = [
        // name, browser, decoder option, expected decoder, expected codecs
        ['default with WebCodecs: WebCodecs, its own codecs', { mediaSource: ['avc1', 'hvc1'], webCodecs: ['avc1'] }, undefined, 'webcodecs', ['avc1']],
        ['auto with WebCodecs that decodes H.265 too', { mediaSource: ['avc1'], webCodecs: ['avc1', 'hvc1'] }, 'auto', 'webcodecs', ['avc1', 'hvc1']],
        ['auto without WebCodecs: MediaSource', { mediaSource: ['avc1', 'hvc1'] }, 'auto', 'mediasource', ['avc1', 'hvc1']],
        ['auto with a VideoDecoder that decodes no probe: MediaSource', { mediaSource: ['avc1'], webCodecs: [] }, 'auto', 'mediasource', ['avc1']],
        ['auto with probes that fail: MediaSource', { mediaSource: ['avc1'], webCodecs: ['avc1'], probeFails: true }, 'auto', 'mediasource', ['avc1']],
        ['mediasource forced beside WebCodecs', { mediaSource: ['avc1'], webCodecs: ['avc1', 'hvc1'] }, 'mediasource', 'mediasource', ['avc1']],
        ['webcodecs forced: WebCodecs even when no probe decodes', { mediaSource: ['avc1'], webCodecs: [] }, 'webcodecs', 'webcodecs', []],
        ['webcodecs forced without WebCodecs: MediaSource', { mediaSource: ['avc1'] }, 'webcodecs', 'mediasource', ['avc1']],
        ['neither API: MediaSource, which decodes nothing', {}, 'auto', 'mediasource', []],
    ];
    for (const [name, options, wanted, decoder, codecs] of cases)
        assert.deepEqual(await chooseDecoder(browser(options), wanted), { decoder, codecs }, name);

    const managed = { ManagedMediaSource: { isTypeSupported: (type) => type.includes('avc1') } };
    assert.deepEqual(await chooseDecoder(managed), { decoder: 'mediasource', codecs: ['avc1'] }, 'ManagedMediaSource');
});
