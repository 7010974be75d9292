#pragma once

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/rational.h>
}

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
struct SwsContext;
class PacketTap;
class VC_StreamViewer;

// Decodes one played stream and encodes it again as H.264 (libx264, ultrafast, zerolatency), for a viewer
// that does not play the camera's codec; the H.264 packets go to an output tap (the viewer's remuxer).
// It works on a thread of its own, so that the player's reading never waits for it: packets wait in a
// queue bounded by kMaxQueuedPackets and kMaxQueuedBytes, and a queue past its bound is emptied and the
// transcoder starts again at the next key frame (a slow machine sees a gap, never a growing delay).
//
// The frames keep the stream's size, bounded by kMaxWidth x kMaxHeight with the aspect kept; a key frame
// comes every kKeyFrameInterval frames, so that a viewer dropped to a key frame waits a second at most at
// 25 fps. Its cost, the CPU time of its thread (decoder and encoder run single-threaded on it, so that is
// all of it), goes to the viewer with streamTranscoding. At most kMaxTranscoders run at once in the
// library: each costs a good part of a core at 1920 x 1080.
class StreamTranscoder
{
public:
    static constexpr int kMaxTranscoders = 4;
    static constexpr int kMaxWidth = 1920;
    static constexpr int kMaxHeight = 1080;
    static constexpr int kKeyFrameInterval = 25;
    static constexpr int kMaxQueuedPackets = 50;
    static constexpr long long kMaxQueuedBytes = 16LL * 1024 * 1024;
    static constexpr int kFirstReportMs = 1000; // the first measured cost, then every VC_TRANSCODE_REPORT_MS

    // A transcoder of the stream, started; null with *refusal set (a VC_TranscodeRefusal) when the limit is
    // reached, the stream's codec cannot be decoded or no H.264 encoder is there. from is the codec's name
    // for the viewer.
    static std::unique_ptr<StreamTranscoder> start(std::shared_ptr<VC_StreamViewer> viewer,
        std::shared_ptr<PacketTap> output, const AVCodecParameters &parameters, AVRational timeBase,
        const QByteArray &from, int *refusal);
    ~StreamTranscoder(); // stops it: waits for the frame under way

    StreamTranscoder(const StreamTranscoder &) = delete;
    StreamTranscoder &operator=(const StreamTranscoder &) = delete;

    // Player thread: one packet of the stream.
    void push(const AVPacket &packet);

    static int running(); // transcoders that exist now

private:
    StreamTranscoder(std::shared_ptr<VC_StreamViewer> viewer, std::shared_ptr<PacketTap> output,
        AVRational timeBase, QByteArray from);
    void run();
    void decode(AVPacket *packet);
    void encode(AVFrame *frame);
    bool openEncoder(const AVFrame &frame);
    AVFrame *scaled(AVFrame *frame);
    void report();

    const std::shared_ptr<VC_StreamViewer> m_viewer;
    const std::shared_ptr<PacketTap> m_output;
    const AVRational m_timeBase;
    const QByteArray m_from;

    // The transcoder's thread only (and start, before the thread runs).
    AVCodecContext *m_decoder = nullptr;
    AVCodecContext *m_encoder = nullptr;
    AVCodecParameters *m_encoded = nullptr; // the encoder's parameters, for the output
    SwsContext *m_scaler = nullptr;
    AVFrame *m_picture = nullptr; // the scaled frame
    AVPacket *m_packetOut = nullptr;
    long long m_lastPts = 0; // in the stream's time base, as given to the encoder
    long long m_lastStep = 0; // between the last two frames
    long long m_ptsOffset = 0; // added to the stream's time since it went back
    long long m_framesEncoded = 0;
    bool m_encoderFailed = false;
    long long m_nextReportUs = 0;
    long long m_reportWallUs = 0;
    long long m_reportCpuUs = 0;

    std::mutex m_mutex; // guards what follows
    std::condition_variable m_wake;
    std::deque<AVPacket *> m_queue;
    long long m_queuedBytes = 0;
    bool m_waitingForKeyFrame = false;
    bool m_flushDecoder = false; // packets were dropped: the decoder starts again at the next key frame
    bool m_stopping = false;

    std::thread m_thread;
};
