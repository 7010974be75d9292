#!/usr/bin/python3
"""A local RTSP server for tests and benchmarks: one live H.264 (or H.265) stream at rtsp://127.0.0.1:PORT/test.

Each frame carries a strip of 32 black and white blocks across its top tenth: blocks 0-15 are the frame's
index, blocks 16-31 the wall clock in milliseconds (modulo 65536) when the frame left for the encoder,
lowest bit first. The rest of the frame is grey.

Usage: rtsp_test_server.py [--port N] [--width W] [--height H] [--fps F] [--codec h264|h265]
                           [--user U --password P [--digest]]
With --digest the server wants Digest credentials, otherwise Basic.
Prints "ready PORT" on stdout once it listens; exits with 77 when GStreamer's RTSP server is missing.
"""

import argparse
import sys
import time

try:
    import gi

    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtsp", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtsp, GstRtspServer
except (ImportError, ValueError) as error:
    print("no GStreamer RTSP server: %s" % error, file=sys.stderr)
    sys.exit(77)

BLOCKS = 32


def frame_bytes(width, height, index, clock_ms):
    """One I420 frame with the strip."""
    strip_height = max(8, height // 10)
    block = width // BLOCKS
    value = (index & 0xFFFF) | ((clock_ms & 0xFFFF) << 16)
    row = bytearray()
    for bit in range(BLOCKS):
        row += (b"\xeb" if (value >> bit) & 1 else b"\x10") * block
    row += b"\x80" * (width - len(row))
    luma = bytes(row) * strip_height + b"\x80" * (width * (height - strip_height))
    chroma = b"\x80" * ((width // 2) * (height // 2) * 2)
    return luma + chroma


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--width", type=int, default=320)
    parser.add_argument("--height", type=int, default=240)
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--codec", choices=("h264", "h265"), default="h264")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--digest", action="store_true")
    args = parser.parse_args()

    Gst.init(None)
    if args.codec == "h264":
        encoder = "x264enc tune=zerolatency speed-preset=ultrafast bitrate=3000 key-int-max=%d" % args.fps
    else:
        encoder = "x265enc tune=zerolatency speed-preset=ultrafast bitrate=3000 key-int-max=%d" % args.fps
    payloader = "rtp%spay" % args.codec
    for element in ("appsrc", encoder.split()[0], payloader):
        if Gst.ElementFactory.find(element) is None:
            print("no GStreamer element %s" % element, file=sys.stderr)
            sys.exit(77)

    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(
        "( appsrc name=source is-live=true do-timestamp=true format=time "
        "caps=video/x-raw,format=I420,width=%d,height=%d,framerate=%d/1 "
        "! %s ! %s name=pay0 pt=96 config-interval=1 )" % (args.width, args.height, args.fps, encoder, payloader)
    )
    factory.set_shared(True)
    factory.set_latency(0)

    frames = {"index": 0}

    def configure(_factory, media):
        source = media.get_element().get_by_name("source")

        def push():
            clock_ms = int(time.time() * 1000)
            data = frame_bytes(args.width, args.height, frames["index"], clock_ms)
            frames["index"] += 1
            buffer = Gst.Buffer.new_wrapped(data)
            return source.emit("push-buffer", buffer) == Gst.FlowReturn.OK

        GLib.timeout_add(max(1, 1000 // args.fps), push)

    factory.connect("media-configure", configure)

    if args.user:
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, "user")
        if args.digest:
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
            auth.add_digest(args.user, args.password or "", token)
        else:
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password or ""), token)
        server.set_auth(auth)
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_permission_for_role("user", GstRtspServer.RTSP_PERM_MEDIA_FACTORY_ACCESS, True)
        permissions.add_permission_for_role("user", GstRtspServer.RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, True)
        factory.set_permissions(permissions)

    server.get_mount_points().add_factory("/test", factory)
    if server.attach(None) == 0:
        print("cannot listen on port %d" % args.port, file=sys.stderr)
        sys.exit(1)
    print("ready %d" % server.get_bound_port(), flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
