// Compiled with tsc --noEmit (tsconfig.json beside it) when tsc is installed: the package's types read
// the way a page uses the library, and misuse is refused.
import { connect, LocalServiceError, type PluginWindow, type ServiceEvent, type Session } from 'localservice-client';

export async function page(element: HTMLElement): Promise<PluginWindow> {
    const session: Session = await connect({ ports: { start: 33686, end: 33695 }, road: ['websocket', 'http'] });
    session.on('window.onGetSelectWndInfo', (event: ServiceEvent) => console.log(event.cmd, event.wndIndex));
    session.on('reconnect', ({ uuid, previous }) => console.log(uuid, previous));
    session.on('close', ({ reason }) => console.log(reason));
    session.on('reconnecting', ({ attempt }) => console.log(attempt));
    session.on('reconnected', ({ uuid, port }) => console.log(uuid, port));
    const pinned: Session = await connect({ ports: [33686] });
    await pinned.close();
    const answer = await session.command('video.startPlay', { wndIndex: 0 }, { timeout: 5000 });
    if (typeof answer !== 'string')
        console.log(answer.errorCode);
    try {
        await session.command('video.stop');
    } catch (error) {
        if (error instanceof LocalServiceError && error.code === 'closed')
            console.log(error.message);
    }
    // @ts-expect-error a command name is a text
    await session.command(42);
    // @ts-expect-error there is no such road
    await connect({ road: 'carrier-pigeon' });
    const window = await session.attach(element, { holes: '.menu.open', round: 4 }).catch((error: LocalServiceError) => {
        if (error.code === 'browser-window-not-found' || error.code === 'native-window-unavailable')
            console.log(error.hint);
        throw error;
    });
    window.setHoles([element]);
    await session.close();
    return window;
}
