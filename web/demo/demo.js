// The demo: connect, a 2 x 2 plug-in window over #video (or, where none can be placed, the cells
// rendered in the page), a drop-down menu that overlaps it (a hole is
// cut while it is open), play, stop and full screen for the selected cell, a state per cell, and a log
// with one line per event or answer (its JSON folded under it).
import { connect } from '../client/src/index.js';

const $ = (id) => document.getElementById(id);
const CELLS = 4;
let session;
let selected = 0;
let videoMode = ''; // which the attach chose: the native window or the page
let pageView; // the cells in the page, when the attach chose the page
const DECODER_NAMES = { webcodecs: 'WebCodecs', mediasource: 'MediaSource' };

function status(text, kind = 'info') {
    $('status').textContent = text;
    $('status').className = `status ${kind}`;
}

// "?ports=33686-33695" (a range) or "?ports=33686" (one port) when the service listens elsewhere.
function portsFromQuery() {
    const match = /^(\d+)(?:-(\d+))?$/.exec(new URLSearchParams(location.search).get('ports') || '');
    return match ? { start: Number(match[1]), end: Number(match[2] || match[1]) } : undefined;
}

/** One line of the log; details (an object) folded under it. */
function log(text, kind = 'info', details = undefined) {
    const item = document.createElement('li');
    item.className = kind;
    const line = `${new Date().toLocaleTimeString()} ${text}`;
    if (details === undefined) {
        item.textContent = line;
    } else {
        const fold = document.createElement('details');
        const summary = document.createElement('summary');
        summary.textContent = line;
        const body = document.createElement('pre');
        body.textContent = typeof details === 'string' ? details : JSON.stringify(details, null, 2);
        fold.append(summary, body);
        item.append(fold);
    }
    $('log').prepend(item);
    while ($('log').children.length > 200)
        $('log').lastChild.remove();
}

function showError(step, error) {
    const text = `${step} failed: ${error.message}` + (error.hint ? ` (${error.hint})` : '');
    status(text, 'error');
    log(text, 'error', error.answer ?? (error.code ? { code: error.code } : undefined));
}

// The state of each cell as the page last heard it.
const cells = Array.from({ length: CELLS }, () => ({ state: 'idle', detail: '' }));

function setCell(index, state, detail = '') {
    if (!(index >= 0 && index < CELLS))
        return;
    cells[index] = { state, detail };
    const item = $('cells').children[index];
    item.dataset.state = state;
    // In the page, how the cell decodes: WebCodecs into a canvas, or MediaSource into a video.
    const decoder = pageView && !pageView.released ? DECODER_NAMES[pageView.decoderOf(index)] : undefined;
    item.textContent = `Cell ${index + 1}: ${state}${detail ? ` (${detail})` : ''}${decoder ? `, ${decoder}` : ''}`
        + `${index === selected ? ' - selected' : ''}`;
}

function drawCells() {
    $('cells').replaceChildren(...cells.map(() => document.createElement('li')));
    cells.forEach((cell, i) => setCell(i, cell.state, cell.detail));
}

// What a cell's player says of its stream ("event"), or a pattern cell's tick ("state"); the events of
// captures and recordings ("captured", "saveFailed", ...) are logged but leave the cell's state alone.
const streamStates = new Set(['connecting', 'playing', 'paused', 'stalled', 'reconnecting', 'ended', 'failed']);

/** A stream event of a cell: its state, and the failure's code when it failed. */
function streamEvent(event) {
    const state = streamStates.has(event.event) ? event.event : event.state;
    if (typeof state !== 'string' || !('wndIndex' in event))
        return;
    setCell(Number(event.wndIndex), state, event.errorCode ? `error ${event.errorCode}` : '');
}

async function run(cmd, args) {
    try {
        const answer = await session.command(cmd, args);
        const failed = answer && typeof answer === 'object' && answer.errorCode;
        log(`${cmd}: ${failed ? `error ${answer.errorCode}` : 'ok'}`, failed ? 'error' : 'answer', answer);
        return answer;
    } catch (error) {
        showError(cmd, error);
        return undefined;
    }
}

function setButtons(connected) {
    for (const id of ['play', 'stop', 'fullscreen'])
        $(id).disabled = !connected;
    $('connect').disabled = connected;
}

$('connect').addEventListener('click', async () => {
    $('connect').disabled = true;
    pageView = undefined;
    let step = 'Step 1 of 3, finding the service';
    try {
        status(`${step}...`, 'working');
        session = await connect({ road: $('road').value || undefined, ports: portsFromQuery() });
        log(`connected over ${session.road.kind} on port ${session.port}, session ${session.uuid}`);
        session.on('*', (event) => log(`event ${event.cmd}${'wndIndex' in event ? ` cell ${event.wndIndex + 1}` : ''}`,
            event.errorCode ? 'error' : 'event', event));
        session.on('window.onGetSelectWndInfo', (event) => { selected = event.wndIndex ?? selected; drawCells(); });
        session.on('window.onPluginEventHandler', streamEvent);
        session.on('close', ({ reason }) => {
            setButtons(false);
            // The demo closes the session itself after a failed step, whose error stays on show.
            if (!$('status').classList.contains('error'))
                status(`Session closed: ${reason}. Press Connect to start again.`, 'error');
        });
        session.on('error', (error) => showError('The plug-in window', error));
        session.on('reconnecting', ({ attempt, reason }) => {
            status(`Connection lost (${reason}); reconnecting, attempt ${attempt}...`, 'working');
            setButtons(false);
            $('connect').disabled = true;
        });
        session.on('reconnected', ({ uuid, port }) => {
            status(`Reconnected on port ${port}, session ${uuid}; window, layout and streams restored`, 'ok');
            log(`reconnected as ${uuid}`);
            setButtons(true);
        });
        session.on('reconnect', ({ uuid }) => log(`session renewed as ${uuid}`));

        step = 'Step 2 of 3, creating the plug-in window over the video area';
        status(`${step}...`, 'working');
        // The sticky header and the open menu lie over the plug-in window: both are cut out of it.
        const [render, decoder] = $('render').value.split(' ');
        const window = await session.attach($('video'), { holes: 'header, .menu.open', render, decoder });
        if (window.mode === 'page') {
            // In the page a cell plays a camera's own stream; the test pattern has none.
            pageView = window;
            const decoded = window.decoder === 'webcodecs' ? 'decoded by the page (WebCodecs)' : 'played through MediaSource';
            log(`video in the page, ${decoded}, codecs ${window.codecs.join(', ') || 'none'}${window.reason ? `: ${window.reason}` : ''}`);
            session.on('page.onDecoderFallback', ({ wndIndex, codec }) => {
                log(`cell ${wndIndex + 1}: this browser's WebCodecs does not decode ${codec}; the cell plays through MediaSource`);
                drawCells();
            });
            session.on('page.onStreamTranscoding', ({ wndIndex, from, cpuPercent }) => log(`cell ${wndIndex}: the service `
                + `transcodes ${from} to H.264 for this browser${cpuPercent === undefined ? '' : `, ${cpuPercent} % of a core`}`));
            $('url').placeholder = 'rtsp://… (a stream address)';
        } else {
            log('window.createWnd: ok', 'answer', window.answer);
        }
        videoMode = window.mode === 'page' ? `video in the page (${DECODER_NAMES[window.decoder]})` : 'native window';
        drawCells();

        step = 'Step 3 of 3, setting the 2 x 2 layout';
        const arranged = await session.command('video.arrangeWindow', { windowNum: CELLS });
        if (arranged && typeof arranged === 'object' && arranged.errorCode)
            throw Object.assign(new Error(`error ${arranged.errorCode}`), { answer: arranged });
        log('video.arrangeWindow: ok', 'answer', arranged);
        drawCells();
        // A camera that drops out, or is slow to answer at first, is asked again (with growing pauses).
        if (window.mode !== 'page')
            await run('video.setReconnectInfo', { attempts: -1, interval: 1000 });
    } catch (error) {
        showError(step, error);
        await session?.close();
        session = undefined;
        pageView = undefined;
        $('connect').disabled = false;
        return;
    }
    status(`Connected over ${session.road.kind} on port ${session.port}, ${videoMode}: select a cell, then Play`, 'ok');
    setButtons(true);
});

$('play').addEventListener('click', async () => {
    const url = $('url').value.trim();
    setCell(selected, 'starting');
    // Without an address the video library plays its test pattern.
    const answer = await run('video.startPlay', { wndIndex: selected, ...(url ? { url } : {}) });
    if (answer && typeof answer === 'object')
        setCell(selected, answer.errorCode ? 'failed' : answer.state ?? 'starting', answer.errorCode ? `error ${answer.errorCode}` : '');
});
$('stop').addEventListener('click', async () => {
    if (await run('video.stop', { wndIndex: selected }))
        setCell(selected, 'idle');
});
$('fullscreen').addEventListener('click', () => run('video.fullScreen', { full: true }));

// The drop-down menu: while it is open the plug-in window has a hole where the menu lies over it.
const menu = $('menu');
$('menu-button').addEventListener('click', (event) => {
    event.stopPropagation();
    const open = menu.classList.toggle('open');
    $('menu-button').setAttribute('aria-expanded', String(open));
});
document.addEventListener('click', () => menu.classList.remove('open'));
menu.addEventListener('click', (event) => {
    const count = Number(event.target.dataset.cells);
    if (count && session && !session.closed)
        run('video.arrangeWindow', { windowNum: count });
});

drawCells();
addEventListener('pagehide', () => session?.close());
