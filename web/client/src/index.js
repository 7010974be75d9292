// The page side of LocalService: find the service, open a session over the best road, send commands,
// receive events, and keep plug-in windows over page elements.
//
//   import { connect } from 'localservice-client';
//   const session = await connect();
//   const window = await session.attach(document.querySelector('#video'), { holes: '.menu' });
//   session.on('window.onGetSelectWndInfo', (event) => console.log(event));
//   await session.command('video.startPlay', { ... });
//   await session.close();
export { connect, DEFAULT_PORTS, pageDigest, isConnectReply, portsOf, probingOrder } from './connect.js';
export { LocalServiceError } from './errors.js';
export { Session, PendingAnswers, parseAnswer, eventOf } from './session.js';
export { PluginWindow, attachWindow } from './window.js';
export { PageView, attachPageView, chooseDecoder, decodableCodecs, decoderCodecs, hasVideoDecoder, LIVE } from './pageview.js';
export { readInit, readFragment } from './fmp4.js';
export { packCommand, splitPieces, pieceUrls, groupKey, textFromPixels, textFromBitmapFile, zlibDeflate } from './packing.js';
export { toDeviceRect, contentOffset, pageZoom, ZOOM_LEVELS, coversFor, placementSteps, holeIn, intersect, shrink } from './geometry.js';
