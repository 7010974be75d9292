#pragma once

#include <QString>

#include <memory>

extern "C" {
#include <libavutil/rational.h>
}

struct AVCodecParameters;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

// Writes one video stream's packets to a file as they come, without re-encoding. It starts at the first
// key frame and counts time from there; the container follows the file name (.mp4 MP4, .ts MPEG-TS,
// Matroska for others). The file is created new, without following links (NewFile.h), and FFmpeg writes
// to its descriptor: its protocols never see the path.
class StreamRecorder
{
public:
    // A recorder writing to path, or null with the reason in error (the file cannot be written).
    static std::unique_ptr<StreamRecorder> open(const QString &path, const AVCodecParameters *parameters,
        AVRational inputTimeBase, QString *error);
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder &) = delete;
    StreamRecorder &operator=(const StreamRecorder &) = delete;

    // Stops the file before a packet takes it past maxBytes (its framing and closing index come on top), or before the disk it is on has less than
    // minFreeBytes free (looked at again every kFreeDiskCheckBytes written).
    void limit(long long maxBytes, long long minFreeBytes);
    // Free bytes for an unprivileged writer on the disk that holds path, or of its nearest existing
    // folder (a recording's sub-folders are made when it opens); -1 when the system does not say.
    static long long freeDiskBytes(const QString &path);

    enum class Written { Ok, SizeLimit, DiskFull };
    // Writes packet; past a limit the packet is left out and the recorder should be finished.
    Written write(const AVPacket *packet);
    // Writes the trailer and closes the file; answers whether everything was written.
    bool finish();

private:
    StreamRecorder() = default;

    AVFormatContext *m_output = nullptr;
    AVIOContext *m_io = nullptr; // writes to descriptor
    int m_descriptor = -1;
    AVRational m_inputTimeBase { 1, 90000 };
    bool m_started = false; // the first key frame was written
    bool m_failed = false;
    long long m_firstTimestamp = 0;
    long long m_lastDts = 0;
    long long m_maxBytes = -1; // -1: no limit
    long long m_minFreeBytes = -1;
    long long m_nextDiskCheck = 0; // bytes written when the free space is looked at next
    long long m_headerBytes = 0;
    long long m_payloadBytes = 0; // of the packets written
};
