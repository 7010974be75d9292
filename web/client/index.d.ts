// Types of the page-side client of LocalService.

export type RoadKind = 'websocket' | 'http' | 'image';

export interface PortRange {
    /** First port probed (default 33686). */
    start: number;
    /** Last port probed, included (default 33695; the start alone when absent). */
    end?: number;
}

export interface PageLogin {
    user: string;
    iterations: number;
    challenge: string;
    random: string | number;
}

export interface ConnectOptions {
    /** Host of the service (default "127.0.0.1"). */
    host?: string;
    /** The ports to probe: a range (default 33686..33695), or a list in order; one port pins it. */
    ports?: PortRange | number[];
    /** The roads to try, in order (default: WebSocket, HTTP long-poll, image channel). */
    road?: RoadKind | RoadKind[];
    /** Time for one road on one port to answer "system.webconnect" (default 2000 ms). */
    probeTimeout?: number;
    /** Default time a command waits for its answer (default 10000 ms). */
    commandTimeout?: number;
    /** Bound on one long-poll of the HTTP roads (default 30000 ms; the service ends one after 15 s). */
    pollTimeout?: number;
    /** Waits between failed long-polls, doubling from initial to max (default 250 and 8000 ms). */
    backoff?: { initial: number; max: number };
    /** Open a new session when the old one is lost: the service says it expired (HTTP roads), or the
     * WebSocket closed without the page closing it (default true). */
    reconnect?: boolean;
    /** How long a lost WebSocket session is tried again, with back-off, before it ends (default 120000 ms). */
    reconnectFor?: number;
    /** Where the last good port is kept (default localStorage; null keeps none). */
    storage?: Pick<Storage, 'getItem' | 'setItem'> | null;
    /** Run the page check ("detectport", or the detect form over HTTP); see Session.pageCheck. */
    detect?: PageLogin;
    /** Environment overrides (tests, Node): the WebSocket class, fetch, Web Crypto, zlib deflate. */
    WebSocket?: unknown;
    fetch?: typeof fetch;
    crypto?: Crypto;
    /** zlib (RFC 1950) compressor for the image channel (default: CompressionStream("deflate")). */
    deflate?: (bytes: Uint8Array) => Uint8Array | Promise<Uint8Array>;
    /** How image answers are read: "fetch" (default where fetch exists), "img", or a function of one URL. */
    loadImage?: 'fetch' | 'img' | ((url: string, timeoutMs: number) => Promise<string>);
    /** Packed characters per image request (default 1500). */
    pieceSize?: number;
}

/** An answer: the service's JSON object, or its text when that is not JSON (the empty text included). */
export type Answer = Record<string, any> | string;

/** An event of the service: "cmd" names it ("window.onGetSelectWndInfo"), "uuid" the session. */
export interface ServiceEvent {
    cmd: string;
    uuid?: string;
    [member: string]: any;
}

export type ErrorCode = 'closed' | 'timeout' | 'no-service' | 'transport' | 'window' | 'browser-window-not-found' |
    'native-window-unavailable' | 'page-rendering-unavailable' | 'stream-refused';

export class LocalServiceError extends Error {
    readonly code: ErrorCode;
    readonly answer?: Answer;
    /** What the user can do about it, where the library knows. */
    readonly hint?: string;
    constructor(code: ErrorCode, message: string, answer?: Answer, hint?: string);
}

export interface Road {
    readonly kind: RoadKind;
}

/** The session's own events; no message of the service can fire them. */
export interface SessionEvents {
    close: { reason: string };
    /** An expired HTTP session was renewed. */
    reconnect: { uuid: string; previous: string };
    /** The WebSocket closed under the session; one per attempt to open a new one. */
    reconnecting: { attempt: number; reason: string };
    /** A new session took over: its windows are created again, its layout and streams repeated. */
    reconnected: { uuid: string; previous: string; port: number; attempts: number };
    error: LocalServiceError;
}

export class Session {
    /** The session identifier; changes when an expired HTTP session is renewed. */
    readonly uuid: string;
    readonly port: number;
    readonly road: Road;
    readonly closed: boolean;
    /** True while a lost WebSocket session is being opened again (commands are refused meanwhile). */
    readonly reconnecting: boolean;
    /** Result of the page check when connect() was given `detect`. */
    readonly pageCheck: boolean | undefined;
    commandTimeout: number;

    /** Sends one command (uuid and sequence are added); rejects with "timeout" or "closed". */
    command(cmd: string, args?: Record<string, unknown>, options?: { timeout?: number }): Promise<Answer>;

    on<K extends keyof SessionEvents>(name: K, handler: (value: SessionEvents[K]) => void): this;
    /** An event of the service by its "cmd", or "*" for every one; only events whose "uuid" is this session's. */
    on(name: string, handler: (event: ServiceEvent) => void): this;
    off(name: string, handler: (value: any) => void): this;

    /** Shows the session's cells over a page element: a native plug-in window ("native", the default),
     * cells rendered in the page ("page"), or the native window where one can be placed and the page
     * otherwise ("auto"). */
    attach(element: Element, options?: AttachOptions): Promise<PluginWindow | PageView>;

    /** "system.disconnect" over HTTP, the socket's close over WebSocket; releases the windows. */
    close(): Promise<void>;
}

export interface AttachOptions {
    /** Where the cells are drawn (default "native"). */
    render?: 'auto' | 'native' | 'page';
    /** Cells drawn in the page: "auto" (the default) decodes their frames with the browser's VideoDecoder
     * into a <canvas> (the lowest latency) where it decodes one of the probed codecs, "webcodecs" wherever
     * the browser has a VideoDecoder; otherwise, and with "mediasource", a <video> plays through
     * MediaSource. A cell whose codec WebCodecs refuses falls back to MediaSource. */
    decoder?: 'auto' | 'mediasource' | 'webcodecs';
    /** Page elements that may lie over the window, or a selector for them; holes are cut there. */
    holes?: Element[] | string;
    /** Corner ellipse of the holes, in pixels (default 0: square corners). */
    round?: number;
    /** Browser class for the window search ("Chrome", the default in Chromium browsers, matches any). */
    className?: string;
    /** Whether the service adds the page-content area's offset (default: "Chrome" on Windows, where
     * it finds Chrome's content child window); otherwise the page adds its estimate from the
     * window's outer and inner sizes. */
    offsetByService?: boolean;
    embed?: boolean;
    /** The parent window's native handle, when the page knows it. */
    parentWnd?: string | number;
    pluginColor?: {
        backgroundColor?: string;
        subBackgroundColor?: string;
        borderColor?: string;
        selectBorderColor?: string;
    };
    /** How long "createWnd" is asked again while the browser window does not carry the page's new title
     * yet (default 2000 ms); then the attach rejects with "browser-window-not-found". */
    findTimeout?: number;
}

export class PluginWindow {
    readonly mode: 'native';
    readonly session: Session;
    readonly element: Element;
    /** The answer to "createWnd". */
    readonly answer: Answer | undefined;
    /** Settles when the placement in progress has been answered. */
    readonly placing: Promise<void>;
    setHoles(holes: Element[] | string): void;
    /** Destroys the service's window and stops following. */
    destroy(): Promise<void>;
    /** Stops following; the service's window goes with the session. */
    release(): void;
}

/** Cells rendered in the page: a CSS grid of <canvas> (WebCodecs) or <video> (MediaSource) elements, one
 * stream channel per played cell. A <canvas> raises "frame" after each frame drawn. */
export class PageView {
    readonly mode: 'page';
    readonly session: Session;
    readonly element: Element;
    /** Why no native window was placed (render "auto"). */
    readonly reason: string | undefined;
    /** How the cells decode, chosen once when the view is made. */
    readonly decoder: PageDecoder;
    /** The codec families the chosen decoder decodes, as the stream channel's "codecs" names them. */
    readonly codecs: string[];
    /** How one cell decodes ("mediasource" after a fallback); undefined for no such cell. */
    decoderOf(wndIndex: number): PageDecoder | undefined;
    /** How often a cell caught up by itself since it was made: its decoder more than 8 frames behind went on
     * from the next key frame (WebCodecs), its <video> jumped to the newest frame (MediaSource). */
    catchUpsOf(wndIndex: number): { keyFrameDrops: number; liveEdgeJumps: number } | undefined;
    /** Removes the cells and destroys the service's window. */
    destroy(): Promise<void>;
    /** Stops the cells' streams; the service's window goes with the session. */
    release(): void;
}

/** How far a page-rendered cell may fall behind the newest frame (s) before it jumps to it, and how. */
export const LIVE: { jumpBehind: number; catchUpBehind: number; catchUpRate: number; keepSeconds: number };
export function attachPageView(session: Session, element: Element, options?: AttachOptions): Promise<PageView>;
export type PageDecoder = 'webcodecs' | 'mediasource';
/** The codec families MediaSource decodes ("avc1", "hvc1"). */
export function decodableCodecs(view: Window): string[];
/** The codec families WebCodecs' VideoDecoder decodes (VideoDecoder.isConfigSupported); [] without it. */
export function decoderCodecs(view: Window): Promise<string[]>;
/** The decoder a view's cells use for a decoder option, and the codec families their channels name. */
export function chooseDecoder(view: Window, wanted?: 'auto' | 'mediasource' | 'webcodecs'): Promise<{ decoder: PageDecoder; codecs: string[] }>;
/** Whether the browser has WebCodecs' VideoDecoder (decoder "webcodecs"). */
export function hasVideoDecoder(view: Window): boolean;
/** An init segment's time scale and codec configuration record (avcC, hvcC). */
export function readInit(segment: ArrayBuffer): { timescale: number; description: ArrayBuffer } | undefined;
/** A one-frame fragment's decode time (in the init segment's time scale), key flag and bytes. */
export function readFragment(fragment: ArrayBuffer): { time: number; key: boolean; data: Uint8Array } | undefined;

export interface Rect {
    left: number;
    top: number;
    width: number;
    height: number;
}

export interface Covers {
    left: number;
    top: number;
    right: number;
    bottom: number;
}

export const DEFAULT_PORTS: Readonly<Required<PortRange>>;
export function connect(options?: ConnectOptions): Promise<Session>;
export function attachWindow(session: Session, element: Element, options?: AttachOptions): Promise<PluginWindow>;
export function pageDigest(login: PageLogin, subtle: SubtleCrypto): Promise<string>;
export function isConnectReply(value: unknown): boolean;
export function portsOf(range?: PortRange | number[]): number[];
/** The ports in probing order: the last good one (kept in storage) first when it is one of them. */
export function probingOrder(ports: number[], storage?: Pick<Storage, 'getItem'> | null): number[];
export function parseAnswer(text: string): Answer;
export function eventOf(text: string): ServiceEvent | null;

export class PendingAnswers {
    readonly size: number;
    wait(sequence: string, timeoutMs: number, later?: boolean): Promise<Answer>;
    settle(text: string): boolean;
    cancel(sequence: string): void;
    rejectAll(error: Error): void;
}

export function packCommand(text: string, deflate?: (bytes: Uint8Array) => Uint8Array | Promise<Uint8Array>): Promise<string>;
/** zlib (RFC 1950) with the platform's CompressionStream("deflate"). */
export function zlibDeflate(bytes: Uint8Array): Promise<Uint8Array>;
export function splitPieces(packed: string, size: number): string[];
export function pieceUrls(base: string, pieces: string[], groupKey: string, nonce: string): string[];
/** 128 random bits from Web Crypto, as 32 hexadecimal digits. */
export function groupKey(crypto: Pick<Crypto, 'getRandomValues'>): string;
export function textFromPixels(rgba: ArrayLike<number>, width: number, height: number): string;
export function textFromBitmapFile(file: Uint8Array): string;

export function toDeviceRect(css: Rect, ratio: number, offset?: { x: number; y: number }): Rect;
/** The zoom levels a browser offers. */
export const ZOOM_LEVELS: readonly number[];
/** The page's zoom, from the window's outer and inner widths, taken to the nearest zoom level. */
export function pageZoom(view: { outerWidth: number; innerWidth: number }): number;
/** The page's content area inside the browser window, in device pixels, at any zoom and device scale factor. */
export function contentOffset(view: { outerWidth: number; outerHeight: number; innerWidth: number; innerHeight: number },
    ratio: number): { x: number; y: number };
export function intersect(a: Rect, b: Rect): Rect | null;
export function coversFor(element: Rect, viewport: Rect): Covers | null;
export function shrink(rect: Rect, covers: Covers): Rect;
export function placementSteps(element: Rect, previous: Covers, next: Covers): Array<{ cmd: string; args: object }>;
export function holeIn(windowRect: Rect, element: Rect): Rect | null;
