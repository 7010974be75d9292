// The demo: connect, a 2 x 2 plug-in window over #video, a drop-down menu that overlaps it (a hole is
// cut while it is open), play, stop and full screen for the selected cell, and a log of the events.
import { connect } from '../client/src/index.js';

const $ = (id) => document.getElementById(id);
const status = (text) => { $('status').textContent = text; };
let session;
let selected = 0;

// "?ports=33686-33695" when the service listens elsewhere than on its default range.
function portsFromQuery() {
    const match = /^(\d+)(?:-(\d+))?$/.exec(new URLSearchParams(location.search).get('ports') || '');
    return match ? { start: Number(match[1]), end: Number(match[2] || match[1]) } : undefined;
}

function log(text) {
    const item = document.createElement('li');
    item.textContent = `${new Date().toLocaleTimeString()} ${text}`;
    $('log').prepend(item);
    while ($('log').children.length > 200)
        $('log').lastChild.remove();
}

async function run(cmd, args) {
    try {
        const answer = await session.command(cmd, args);
        log(`${cmd} -> ${JSON.stringify(answer)}`);
        return answer;
    } catch (error) {
        log(`${cmd} failed: ${error.message}`);
        return undefined;
    }
}

$('connect').addEventListener('click', async () => {
    $('connect').disabled = true;
    status('Looking for the service...');
    try {
        session = await connect({ road: $('road').value || undefined, ports: portsFromQuery() });
    } catch (error) {
        status(error.message);
        $('connect').disabled = false;
        return;
    }
    status(`Connected over ${session.road.kind} on port ${session.port}, session ${session.uuid}`);
    session.on('*', (event) => log(`event ${event.cmd} ${JSON.stringify(event)}`));
    session.on('window.onGetSelectWndInfo', (event) => { selected = event.wndIndex ?? selected; });
    session.on('close', ({ reason }) => { status(`Session closed: ${reason}`); setButtons(false); });
    session.on('reconnect', ({ uuid }) => log(`session renewed as ${uuid}`));

    // The sticky header and the open menu lie over the plug-in window: both are cut out of it.
    const window = await session.attach($('video'), { holes: 'header, .menu.open' });
    log(`window.createWnd -> ${JSON.stringify(window.answer)}`);
    await run('video.arrangeWindow', { windowNum: 4 });
    setButtons(true);
});

function setButtons(connected) {
    for (const id of ['play', 'stop', 'fullscreen'])
        $(id).disabled = !connected;
    $('connect').disabled = connected;
}

$('play').addEventListener('click', () => run('video.startPlay', { wndIndex: selected, url: $('url').value }));
$('stop').addEventListener('click', () => run('video.stop', { wndIndex: selected }));
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
    const cells = Number(event.target.dataset.cells);
    if (cells && session && !session.closed)
        run('video.arrangeWindow', { windowNum: cells });
});

addEventListener('pagehide', () => session?.close());
