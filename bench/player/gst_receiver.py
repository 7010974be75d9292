#!/usr/bin/python3
"""The GStreamer peer of bench_player: N receivers of one RTSP stream in this process (rtspsrc latency=0,
depayloader, avdec_h264 or avdec_h265, appsink), each reading the frame strip of rtsp_test_server.py from
the decoded picture's luma.

Usage: gst_receiver.py URL [--transport tcp|udp] [--codec h264|h265] [--seconds S] [--pipelines N]
Prints one line: "frames F min_fps M p50 P p90 Q cpu_ms_per_frame C" (latency in ms over every pipeline's
new frames; the CPU time is this process's); exits with 77 when an element is missing.
"""

import argparse
import resource
import sys
import threading
import time

try:
    import gi

    gi.require_version("Gst", "1.0")
    from gi.repository import GLib, Gst
except (ImportError, ValueError) as error:
    print("no GStreamer: %s" % error, file=sys.stderr)
    sys.exit(77)

BLOCKS = 32


def read_strip(data, width, height, stride):
    """(index, sent ms modulo 65536) from the luma plane, or None."""
    y = height // 20
    value = 0
    for bit in range(BLOCKS):
        x = int((bit + 0.5) * width / BLOCKS)
        if data[y * stride + x] >= 128:
            value |= 1 << bit
    return value & 0xFFFF, value >> 16


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--transport", default="tcp")
    parser.add_argument("--codec", default="h264")
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--pipelines", type=int, default=1)
    args = parser.parse_args()
    Gst.init(None)
    for element in ("rtspsrc", "rtp%sdepay" % args.codec, "avdec_%s" % args.codec, "appsink"):
        if Gst.ElementFactory.find(element) is None:
            print("no GStreamer element %s (gstreamer1.0-libav, gstreamer1.0-plugins-good)" % element, file=sys.stderr)
            sys.exit(77)

    lock = threading.Lock()
    latencies = []
    frames = [0] * args.pipelines
    last = [-1] * args.pipelines
    measuring = {"on": False}

    def on_sample(sink, n):
        sample = sink.emit("pull-sample")
        now = int(time.time() * 1000)
        structure = sample.get_caps().get_structure(0)
        width, height = structure.get_value("width"), structure.get_value("height")
        buffer = sample.get_buffer()
        ok, info = buffer.map(Gst.MapFlags.READ)
        if ok:
            index, sent = read_strip(info.data, width, height, (width + 3) & ~3)  # I420 rows: 4-byte aligned
            buffer.unmap(info)
            with lock:
                if measuring["on"]:
                    frames[n] += 1
                    if index != last[n]:
                        latencies.append((now - sent) & 0xFFFF)
                last[n] = index
        return Gst.FlowReturn.OK

    pipelines = []
    for n in range(args.pipelines):
        pipeline = Gst.parse_launch(
            "rtspsrc location=%s latency=0 protocols=%s ! rtp%sdepay ! avdec_%s "
            "! video/x-raw,format=I420 ! appsink name=sink emit-signals=true sync=false max-buffers=1 drop=true"
            % (args.url, args.transport, args.codec, args.codec))
        pipeline.get_by_name("sink").connect("new-sample", on_sample, n)
        pipeline.set_state(Gst.State.PLAYING)
        pipelines.append(pipeline)

    loop = GLib.MainLoop()
    state = {}

    def start():
        with lock:
            measuring["on"] = True
        usage = resource.getrusage(resource.RUSAGE_SELF)
        state["cpu"] = usage.ru_utime + usage.ru_stime
        state["at"] = time.monotonic()
        GLib.timeout_add(int(args.seconds * 1000), stop)
        return False

    def stop():
        with lock:
            measuring["on"] = False
        usage = resource.getrusage(resource.RUSAGE_SELF)
        state["cpu"] = usage.ru_utime + usage.ru_stime - state["cpu"]
        state["at"] = time.monotonic() - state["at"]
        loop.quit()
        return False

    GLib.timeout_add(2000, start)  # every pipeline plays before the count starts
    loop.run()
    for pipeline in pipelines:
        pipeline.set_state(Gst.State.NULL)
    ordered = sorted(latencies)
    pick = lambda p: ordered[min(len(ordered) - 1, int(p * (len(ordered) - 1) + 0.5))] if ordered else -1
    total = sum(frames)
    print("frames %d min_fps %.1f p50 %d p90 %d cpu_ms_per_frame %.3f" % (
        total, min(frames) / state["at"], pick(0.5), pick(0.9), state["cpu"] * 1000 / max(1, total)), flush=True)


if __name__ == "__main__":
    main()
