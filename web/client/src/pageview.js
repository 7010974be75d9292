// Cells rendered in the page, where no native window can be placed over it: the service keeps the
// session's window hidden (its cells still play) and sends each played cell's compressed frames over a
// stream channel of its own; each cell decodes them into a <canvas> where the browser has WebCodecs,
// and plays them in a <video> through MediaSource otherwise. The page's code is
// the same as with a native window: layout and streams follow the same commands, and a click selects a
// cell, a double click takes it full screen, with the same events.
import { LocalServiceError } from './errors.js';
import { readFragment, readInit } from './fmp4.js';

/** How far the video may fall behind the newest frame before it jumps to it, and the catch-up pace. */
export const LIVE = { jumpBehind: 0.5, catchUpBehind: 0.15, catchUpRate: 1.1, keepSeconds: 3 };
const PROBES = { avc1: 'avc1.42E01E', hvc1: 'hvc1.1.6.L93.B0' };
const REOPEN_MS = 1000;
/** Frames a VideoDecoder may hold before the cell drops to the next key frame (it never builds latency). */
const MAX_DECODE_QUEUE = 8;
/** Pieces held while the browser says whether it decodes a new codec; beyond it they wait for a key frame. */
const MAX_HELD_PIECES = 64;

/** The MediaSource of this browser (ManagedMediaSource where only that exists), or undefined. */
const mediaSourceOf = (view) => view.MediaSource ?? view.ManagedMediaSource;

/** The codec families the browser decodes in MediaSource, as the stream channel's "codecs" names them. */
export function decodableCodecs(view) {
    const source = mediaSourceOf(view);
    return Object.entries(PROBES).filter(([, codec]) => source?.isTypeSupported(`video/mp4; codecs="${codec}"`))
        .map(([family]) => family);
}

/** Whether this browser can decode a cell's frames itself into a <canvas> (WebCodecs). */
export const hasVideoDecoder = (view) => typeof view.VideoDecoder === 'function' && typeof view.EncodedVideoChunk === 'function';

/** Whether WebCodecs' VideoDecoder takes a codec string; a refused or broken answer is a no. */
const decoderSupports = (view, codec) => Promise.resolve()
    .then(() => view.VideoDecoder.isConfigSupported({ codec, optimizeForLatency: true }))
    .then((support) => support?.supported === true, () => false);

/** The codec families the browser's VideoDecoder decodes (WebCodecs), as the stream channel's "codecs" names them. */
export async function decoderCodecs(view) {
    if (!hasVideoDecoder(view))
        return [];
    const families = await Promise.all(Object.entries(PROBES).map(async ([family, codec]) =>
        (await decoderSupports(view, codec) ? family : undefined)));
    return families.filter(Boolean);
}

/**
 * How a view's cells decode, and the codec families their channels name: WebCodecs into a <canvas>
 * (decoder 'auto', the default, where the browser's VideoDecoder decodes one of the probed codecs;
 * 'webcodecs' wherever it has a VideoDecoder), MediaSource into a <video> otherwise ('mediasource'
 * always). The probes are asynchronous: asked once per view, before any channel opens.
 * @returns {Promise<{decoder: 'webcodecs' | 'mediasource', codecs: string[]}>}
 */
export async function chooseDecoder(view, wanted = 'auto') {
    if (wanted !== 'mediasource' && hasVideoDecoder(view)) {
        const codecs = await decoderCodecs(view);
        if (codecs.length || wanted === 'webcodecs')
            return { decoder: 'webcodecs', codecs };
    }
    return { decoder: 'mediasource', codecs: decodableCodecs(view) };
}

/** Columns of a layout of count cells: the smallest square that holds them. */
const columnsFor = (count) => Math.max(1, Math.ceil(Math.sqrt(count)));

/**
 * A cell's stream channel: its text messages (the codec, a refusal, transcoding) and its binary pieces,
 * which each kind of cell stream takes in its own way (start and piece).
 */
class ChannelStream {
    constructor(cell, element, url, onRefused, onTranscoding) {
        this.cell = cell;
        this.view = element.ownerDocument.defaultView;
        this.onRefused = onRefused;
        this.onTranscoding = onTranscoding;
        this.closed = false;
        this.socket = new this.view.WebSocket(url);
        this.socket.binaryType = 'arraybuffer';
        this.socket.onmessage = (message) => this.receive(message.data);
        this.socket.onclose = () => this.cell.streamClosed(this);
    }

    receive(data) {
        if (typeof data !== 'string') {
            this.piece(data);
            return;
        }
        const message = JSON.parse(data);
        if (message.codec)
            this.start(message.codec);
        else if (message.event === 'refused')
            this.onRefused(message);
        else if (message.event === 'transcoding')
            this.onTranscoding(message);
    }

    close() {
        this.closed = true;
        this.socket.onclose = null;
        this.socket.close();
    }
}

/** One cell's stream: a stream channel into a <video> through a MediaSource, kept near the live edge. */
class CellStream extends ChannelStream {
    constructor(cell, url, onRefused, onTranscoding) {
        super(cell, cell.video, url, onRefused, onTranscoding);
        this.video = cell.video;
        this.queue = [];
    }

    piece(data) {
        this.queue.push(data);
        this.pump();
    }

    /** A new codec (the first, or after the stream changed): a new MediaSource. */
    start(codec) {
        const Source = mediaSourceOf(this.view);
        this.buffer = undefined;
        this.queue = [];
        const source = new Source();
        this.video.disableRemotePlayback = true; // ManagedMediaSource plays only so
        this.video.src = this.view.URL.createObjectURL(source);
        source.addEventListener('sourceopen', () => {
            this.buffer = source.addSourceBuffer(`video/mp4; codecs="${codec}"`);
            this.buffer.mode = 'segments';
            this.buffer.addEventListener('updateend', () => this.pump());
            this.pump();
        }, { once: true });
        this.video.play().catch(() => {});
    }

    /** Appends the next piece; keeps a few seconds behind the playhead and follows the live edge. */
    pump() {
        const buffer = this.buffer;
        if (!buffer || buffer.updating || this.closed)
            return;
        const video = this.video;
        const ranges = buffer.buffered;
        if (ranges.length) {
            const end = ranges.end(ranges.length - 1);
            const behind = end - video.currentTime;
            const late = behind > LIVE.jumpBehind;
            if (late || video.currentTime < ranges.start(0)) {
                video.currentTime = Math.max(ranges.start(ranges.length - 1), end - 0.05);
                this.cell.stats.liveEdgeJumps += late ? 1 : 0; // not the first placing at the start
            }
            video.playbackRate = behind > LIVE.catchUpBehind ? LIVE.catchUpRate : 1;
            if (video.paused)
                video.play().catch(() => {});
            if (video.currentTime - ranges.start(0) > 2 * LIVE.keepSeconds) {
                buffer.remove(0, video.currentTime - LIVE.keepSeconds);
                return;
            }
        }
        if (this.queue.length) {
            try {
                buffer.appendBuffer(this.queue.shift());
            } catch {
                this.queue = []; // a full or broken buffer: the next codec message starts again
            }
        }
    }
}

/**
 * One cell's stream decoded by the page itself (WebCodecs) and drawn into a <canvas> at the next paint
 * after each frame comes out of the decoder: no media buffer, no presentation clock, the lowest latency.
 * A decoder that falls behind drops frames to the next key frame; a page that paints more slowly than the
 * frames come draws the newest only. After each drawn frame the canvas raises "frame". A codec the
 * browser's decoder does not take hands the cell over to MediaSource (cell.decoderFailed).
 */
class DecodedCellStream extends ChannelStream {
    constructor(cell, url, onRefused, onTranscoding) {
        super(cell, cell.canvas, url, onRefused, onTranscoding);
        this.canvas = cell.canvas;
    }

    /** The init segment first, then one fragment per frame; held while the codec is being asked about. */
    piece(data) {
        if (this.held) {
            this.held.push(data);
            if (this.held.length > MAX_HELD_PIECES)
                this.held.splice(1); // the init segment stays; the decoder starts again at a key frame
        } else if (!this.init) {
            this.configure(data);
        } else {
            this.decode(data);
        }
    }

    /** A new codec (the first, or after the stream changed): whether the decoder takes it, then its init segment. */
    start(codec) {
        this.codec = codec;
        this.init = undefined;
        this.waitingForKey = true;
        if (this.decoder && this.decoder.state !== 'closed')
            this.decoder.close();
        this.decoder = undefined;
        const held = [];
        this.held = held;
        decoderSupports(this.view, codec).then((supported) => {
            if (this.closed || this.held !== held)
                return; // closed, or another codec came meanwhile
            this.held = undefined;
            if (!supported) {
                this.cell.decoderFailed(this, codec);
                return;
            }
            held.forEach((piece) => this.piece(piece));
        });
    }

    configure(segment) {
        this.init = readInit(segment);
        this.openDecoder();
    }

    openDecoder() {
        if (!this.init || this.closed)
            return;
        this.waitingForKey = true;
        const decoder = new this.view.VideoDecoder({
            output: (frame) => this.draw(frame),
            // A configuration the decoder refuses goes to MediaSource. A decoder that failed otherwise,
            // or that the browser took back from a busy or hidden page, is made again at the next key
            // frame: the stream goes on, and the cell must not stay dark.
            error: (error) => {
                if (this.decoder !== decoder)
                    return;
                this.decoder = undefined;
                if (error?.name === 'NotSupportedError')
                    this.cell.decoderFailed(this, this.codec);
            },
        });
        this.decoder = decoder;
        try {
            decoder.configure({ codec: this.codec, description: this.init.description, optimizeForLatency: true });
        } catch {
            this.decoder = undefined;
            this.cell.decoderFailed(this, this.codec);
        }
    }

    decode(fragment) {
        const frame = this.init ? readFragment(fragment) : undefined;
        if (!frame)
            return;
        if (!this.decoder || this.decoder.state === 'closed') {
            if (!frame.key)
                return;
            this.openDecoder();
        }
        if (this.decoder?.state !== 'configured')
            return;
        if (this.decoder.decodeQueueSize > MAX_DECODE_QUEUE && !this.waitingForKey) {
            this.waitingForKey = true;
            ++this.cell.stats.keyFrameDrops;
        }
        if (this.waitingForKey && !frame.key)
            return;
        this.waitingForKey = false;
        this.decoder.decode(new this.view.EncodedVideoChunk({ type: frame.key ? 'key' : 'delta',
            timestamp: Math.round(frame.time * 1e6 / this.init.timescale), data: frame.data }));
    }

    /** The newest decoded frame is drawn at the next paint; one that a newer replaces before it is dropped. */
    draw(frame) {
        this.pending?.close();
        this.pending = frame;
        if (this.closed) {
            this.pending.close();
            this.pending = undefined;
            return;
        }
        if (this.drawScheduled)
            return;
        this.drawScheduled = true;
        this.view.requestAnimationFrame(() => {
            this.drawScheduled = false;
            const newest = this.pending;
            this.pending = undefined;
            if (!newest)
                return;
            if (!this.closed) {
                // No more pixels than the cell shows: a 1920 x 1080 frame in a small cell is scaled once.
                const scale = Math.min(1, (this.canvas.clientWidth * this.view.devicePixelRatio || Infinity) / newest.displayWidth,
                    (this.canvas.clientHeight * this.view.devicePixelRatio || Infinity) / newest.displayHeight);
                const width = Math.max(1, Math.round(newest.displayWidth * scale));
                const height = Math.max(1, Math.round(newest.displayHeight * scale));
                if (this.canvas.width !== width || this.canvas.height !== height) {
                    this.canvas.width = width;
                    this.canvas.height = height;
                }
                this.canvas.getContext('2d').drawImage(newest, 0, 0, width, height);
            }
            newest.close();
            if (!this.closed)
                this.canvas.dispatchEvent(new this.view.Event('frame'));
        });
    }

    close() {
        super.close();
        this.held = undefined;
        this.pending?.close();
        this.pending = undefined;
        if (this.decoder && this.decoder.state !== 'closed')
            this.decoder.close();
        this.decoder = undefined;
    }
}

/** One cell: a box of the grid with its <video>, or its <canvas> where the page decodes the frames. */
class PageCell {
    constructor(view, index) {
        this.pageView = view;
        this.index = index;
        const document = view.element.ownerDocument;
        this.box = document.createElement('div');
        this.box.dataset.wndIndex = String(index);
        this.box.style.cssText = 'position:relative;overflow:hidden;background:#343434;border:1px solid #171C20;min-width:0;min-height:0';
        this.video = document.createElement('video');
        this.video.muted = true;
        this.video.playsInline = true;
        this.video.autoplay = true;
        this.video.style.cssText = 'width:100%;height:100%;object-fit:contain;display:block';
        if (view.decoder === 'webcodecs') {
            this.canvas = document.createElement('canvas');
            this.canvas.style.cssText = 'width:100%;height:100%;object-fit:contain;display:block';
            this.box.append(this.canvas);
        } else {
            this.box.append(this.video);
        }
        this.codecs = view.codecs; // the families its decoder takes, named on its channel
        // How often the page itself caught up: a decoder more than MAX_DECODE_QUEUE frames behind went
        // on from the next key frame (WebCodecs), the <video> jumped to the newest frame (MediaSource).
        this.stats = { keyFrameDrops: 0, liveEdgeJumps: 0 };
        this.box.addEventListener('click', () => view.select(index));
        this.box.addEventListener('dblclick', () => view.toggleFullScreen(this));
        this.stream = undefined;
        this.playing = false;
    }

    play() {
        this.playing = true;
        this.stream?.close();
        const Stream = this.canvas ? DecodedCellStream : CellStream;
        this.stream = new Stream(this, this.pageView.streamUrl(this.index, this.codecs),
            (refusal) => this.pageView.refused(this.index, refusal),
            ({ from, cpuPercent }) => this.pageView.event('page.onStreamTranscoding', { wndIndex: this.index, from, cpuPercent }));
    }

    stop() {
        this.playing = false;
        this.stream?.close();
        this.stream = undefined;
        this.video.removeAttribute('src');
        this.video.load();
        this.canvas?.getContext('2d').clearRect(0, 0, this.canvas.width, this.canvas.height);
    }

    /** 'webcodecs' while the cell decodes into its <canvas>, 'mediasource' while it plays a <video>. */
    get decoder() {
        return this.canvas ? 'webcodecs' : 'mediasource';
    }

    /**
     * The browser's decoder does not take the codec the channel announced: from now on the cell plays
     * through MediaSource, on a new channel that names MediaSource's codecs.
     */
    decoderFailed(stream, codec) {
        if (stream !== this.stream || !this.canvas)
            return;
        stream.close();
        const view = this.pageView;
        const window = view.element.ownerDocument.defaultView;
        if (!mediaSourceOf(window)) {
            this.stream = undefined;
            this.playing = false;
            view.session.emit('error', new LocalServiceError('page-rendering-unavailable',
                `cell ${this.index}: this browser decodes ${codec} neither with WebCodecs nor with MediaSource`));
            return;
        }
        this.canvas.replaceWith(this.video);
        this.canvas = undefined;
        this.codecs = decodableCodecs(window);
        view.event('page.onDecoderFallback', { wndIndex: this.index, codec, decoder: 'mediasource' });
        if (this.playing)
            this.play();
    }

    /** The channel ended: opened again while the cell is meant to play (the service's player reconnects). */
    streamClosed(stream) {
        if (stream !== this.stream || !this.playing)
            return;
        setTimeout(() => {
            if (stream === this.stream && this.playing && !this.pageView.released)
                this.play();
        }, REOPEN_MS);
    }
}

export class PageView {
    /**
     * @param {import('./session.js').Session} session
     * @param {Element} element
     * @param {object} options
     * @param {Error} [nativeError] why the native window could not be placed (render 'auto')
     */
    constructor(session, element, options = {}, nativeError = undefined) {
        this.session = session;
        this.element = element;
        this.options = options;
        this.mode = 'page';
        this.reason = nativeError?.message;
        this.released = false;
        this.selected = 0;
        this.cells = [];
        // Set by create(), before any channel opens (see chooseDecoder).
        this.decoder = undefined;
        this.codecs = [];
        this.grid = element.ownerDocument.createElement('div');
        this.grid.style.cssText = 'display:grid;width:100%;height:100%;box-sizing:border-box';
        this.onFullScreen = () => this.fullScreenChanged();
    }

    async create() {
        const window = this.element.ownerDocument.defaultView;
        ({ decoder: this.decoder, codecs: this.codecs } = await chooseDecoder(window, this.options.decoder ?? 'auto'));
        if (this.decoder === 'mediasource' && !mediaSourceOf(window)) {
            throw new LocalServiceError('page-rendering-unavailable', 'this browser has no MediaSource',
                undefined, 'use a browser with MediaSource, or a native window');
        }
        // The service's window holds the cells; headless or without a browser window it answers 5001
        // and keeps the window hidden, which is all the page needs.
        const rect = { left: 0, top: 0, width: 2, height: 2 };
        const answer = await this.session.command('window.createWnd', { rect, embed: false });
        if (answer?.errorCode === 0)
            await this.session.command('window.hideWnd');
        else if (answer?.errorCode !== 5001)
            throw new LocalServiceError('window', 'the service could not create the window for the cells', answer);
        this.element.replaceChildren(this.grid);
        this.element.ownerDocument.addEventListener('fullscreenchange', this.onFullScreen);
        this.layout(this.session.replay.layout?.windowNum ?? 1);
        for (const [index] of this.session.replay.streams)
            this.cells[index]?.play();
        this.session.windows.add(this);
        return this;
    }

    streamUrl(index, codecs = this.codecs) {
        const query = new URLSearchParams({ uuid: this.session.uuid, wndIndex: String(index), codecs: codecs.join(',') });
        return `ws://${this.session.host ?? '127.0.0.1'}:${this.session.port}/stream?${query}`;
    }

    /** A CSS grid of count cells, as the layout command made them. */
    layout(count) {
        const wanted = Math.max(1, Math.min(64, Number(count) || 1));
        while (this.cells.length > wanted)
            this.cells.pop().stop();
        while (this.cells.length < wanted)
            this.cells.push(new PageCell(this, this.cells.length));
        const columns = columnsFor(wanted);
        this.grid.style.gridTemplateColumns = `repeat(${columns}, 1fr)`;
        this.grid.style.gridTemplateRows = `repeat(${Math.ceil(wanted / columns)}, 1fr)`;
        this.grid.replaceChildren(...this.cells.map((cell) => cell.box));
        this.select(Math.min(this.selected, wanted - 1), false);
    }

    /** What the page's commands did to the cells (the session tells every window). */
    commandDone(cmd, args) {
        const index = Number(args?.wndIndex ?? 0);
        if (cmd === 'video.arrangeWindow')
            this.layout(args.windowNum);
        else if (cmd === 'video.startPlay')
            this.cells[index]?.play();
        else if (cmd === 'video.stop')
            this.cells[index]?.stop();
        else if (cmd === 'video.stopAll')
            this.cells.forEach((cell) => cell.stop());
    }

    /** "video.fullScreen" runs here: the page's cell goes full screen, not the service's hidden window. */
    localCommand(cmd, args) {
        if (cmd !== 'video.fullScreen')
            return undefined;
        const document = this.element.ownerDocument;
        if (args?.full === false) {
            if (document.fullscreenElement)
                document.exitFullscreen().catch(() => {});
        } else if (!document.fullscreenElement) {
            this.cells[this.selected]?.box.requestFullscreen?.().catch(() => {});
        }
        return { errorCode: 0, errorModule: '', uuid: this.session.uuid };
    }

    /** How a cell decodes: 'webcodecs' (a <canvas>) or 'mediasource' (a <video>); undefined for no such cell. */
    decoderOf(index) {
        return this.cells[index]?.decoder;
    }

    /** How often a cell caught up with its stream by itself since it was made; undefined for no such cell. */
    catchUpsOf(index) {
        const cell = this.cells[index];
        return cell && { ...cell.stats };
    }

    select(index, announce = true) {
        this.selected = index;
        this.cells.forEach((cell, i) => { cell.box.style.borderColor = i === index ? '#FFCC00' : '#171C20'; });
        if (announce)
            this.event('window.onGetSelectWndInfo', { wndIndex: index });
    }

    toggleFullScreen(cell) {
        this.select(cell.index);
        this.localCommand('video.fullScreen', { full: !this.element.ownerDocument.fullscreenElement });
    }

    fullScreenChanged() {
        const full = this.cells.some((cell) => cell.box === this.element.ownerDocument.fullscreenElement);
        this.event('window.onFullScreenChange', { full });
    }

    refused(index, refusal) {
        this.cells[index].playing = false;
        this.session.emit('error', new LocalServiceError('stream-refused',
            `cell ${index}: the service refused its stream (${refusal.errorCode}, ${refusal.reason})`, refusal));
    }

    /** An event as the native window's would carry it. */
    event(cmd, members) {
        this.session.emit(cmd, { cmd, errorCode: 0, errorModule: '', uuid: this.session.uuid, ...members });
    }

    /** The session was renewed: the cells play again under the new identifier. */
    async reattach() {
        if (this.released)
            return;
        this.cells.forEach((cell) => cell.stop());
        await this.create().catch((error) => this.session.emit('error', error));
    }

    release() {
        if (this.released)
            return;
        this.released = true;
        this.cells.forEach((cell) => cell.stop());
        this.element.ownerDocument.removeEventListener('fullscreenchange', this.onFullScreen);
        this.session.windows.delete(this);
    }

    async destroy() {
        if (this.released)
            return;
        this.release();
        this.grid.remove();
        await this.session.command('window.destroyWnd').catch(() => {});
    }
}

/**
 * Renders the cells in the page.
 * @returns {Promise<PageView>}
 */
export function attachPageView(session, element, options, nativeError) {
    if (session.closed)
        return Promise.reject(new LocalServiceError('closed', 'the session is closed'));
    return new PageView(session, element, options, nativeError).create();
}
