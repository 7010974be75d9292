#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

// The test RTSP server (rtsp_test_server.py beside this file) as a process of its own, for the stream
// player's tests and benchmark: one live H.264 stream (H.265 with "--codec h265") at
// rtsp://127.0.0.1:PORT/test whose frames carry their index and the sender's clock in a strip of blocks.
// Killed when it goes.
class RtspTestServer
{
public:
    RtspTestServer() = default;
    RtspTestServer(const RtspTestServer &) = delete;
    RtspTestServer &operator=(const RtspTestServer &) = delete;
    ~RtspTestServer();

    // Starts it on port (0: a free one) with the script's further options; error says why it did not start.
    bool start(QString *error, int port = 0, const QStringList &options = {});
    void kill();
    QString url(const QString &credentials = QString()) const;
    int port() const { return boundPort; }
    // Whether it failed for want of GStreamer's RTSP server (the script exits with 77).
    bool missing() const { return gstreamerMissing; }

    // The frame index and the sender's clock (ms modulo 65536) from the strip of 32 blocks across the top
    // tenth of a server frame painted into frame; -1 when the strip is not there.
    static std::pair<int, int> readStrip(const QImage &image, const QRect &frame);

private:
    std::unique_ptr<QProcess> process;
    int boundPort = 0;
    bool gstreamerMissing = false;
};
