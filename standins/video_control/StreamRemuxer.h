#pragma once

#include "standins/video_control/StreamPlayer.h"

#include <QByteArray>

#include <memory>

struct AVFormatContext;
struct AVIOContext;
class VC_StreamViewer;

// Remuxes one player's packets for one viewer, without decoding: FFmpeg's mp4 muxer writes into memory
// (empty moov, one fragment per frame, each with its own base offset) and every piece goes to the viewer
// as soon as it is written. It starts at a key frame, and starts again at the next one when the stream
// changes under it (another codec or size, or time going back after a reconnect). One thread at a time:
// the player's, or its viewer's transcoder's.
class StreamRemuxer : public PacketTap
{
public:
    explicit StreamRemuxer(std::shared_ptr<VC_StreamViewer> viewer);
    ~StreamRemuxer() override;

    void packet(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase) override;
    void ended() override;
    const void *identity() const override { return target.get(); } // the viewer

    // The codec string of a stream as media types name it; empty for a codec pages do not play.
    static QByteArray codecString(const AVCodecParameters &parameters, const AVPacket *keyPacket);

private:
    bool start(const AVCodecParameters &parameters, const AVPacket &keyPacket, AVRational timeBase);
    void stop();
    bool sameStream(const AVCodecParameters &parameters) const;
    QByteArray takeWritten();
    static int collect(void *opaque, uint8_t *data, int size);

    std::shared_ptr<VC_StreamViewer> target;
    AVFormatContext *output = nullptr;
    AVIOContext *io = nullptr;
    QByteArray written; // what the muxer wrote since the last piece went out
    AVRational inputTimeBase { 1, 90000 };
    int codecId = 0;
    int width = 0;
    int height = 0;
    long long firstDts = 0;
    long long lastDts = 0;
    long long lastDuration = 0; // in the input's time base
    bool unplayable = false; // the viewer was told a codec pages do not play; nothing follows for it
    bool finished = false;
};
