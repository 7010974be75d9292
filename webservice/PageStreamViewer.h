#pragma once

#include "video/VideoControl.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// The service's end of a page's stream channel: what the library remuxed for one viewer waits here, on
// its way from the library's thread to the connection's worker on the GUI thread.
//
// Latency never builds up: when the bytes not yet sent to the page (waiting here, and in the socket)
// pass maxUnsentBytes, frames are dropped until the next key frame, and that one is taken only once the
// page has caught up. A page that stops reading holds at most the bound and one key frame.
class PageStreamViewer : public VC_StreamViewer, public std::enable_shared_from_this<PageStreamViewer>
{
public:
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

    struct Piece
    {
        enum Kind { Codec, Init, Fragment, Ended, Transcoding, NotTranscoded };
        Kind kind = Fragment;
        QByteArray bytes; // Codec: the codec string; Transcoding, NotTranscoded: the camera's codec
        int width = 0;
        int height = 0;
        double cpuPercent = -1; // Transcoding: its cost in percent of a core, negative before it is measured
        int refusal = 0; // NotTranscoded: a VC_TranscodeRefusal
    };

    // ready runs on the GUI thread (the thread that made the viewer) when pieces wait; once per batch.
    // decodable: the codec families the page plays ("avc1", "hvc1"); the others are transcoded for it.
    // Empty: the page takes every codec as it comes.
    explicit PageStreamViewer(std::function<void()> ready, qint64 maxUnsentBytes = kMaxUnsentBytes,
        QStringList decodable = QStringList());
    ~PageStreamViewer() override;

    // Library thread.
    void streamCodec(const QByteArray &codec, int width, int height) override;
    void streamInit(const QByteArray &segment) override;
    void streamFragment(const QByteArray &fragment, bool keyFrame) override;
    void streamEnded() override;
    bool streamPlays(const QByteArray &codec) const override;
    void streamTranscoding(const QByteArray &from, double cpuPercent) override;
    void streamNotTranscoded(const QByteArray &codec, int refusal) override;

    // GUI thread: the pieces waiting, oldest first, and what the socket still holds after writing them.
    std::deque<Piece> take();
    void setSocketUnsent(qint64 bytes) { m_socketUnsent = bytes; }

    qint64 droppedFrames() const;

private:
    void add(Piece piece);

    const std::function<void()> m_ready;
    const qint64 m_maxUnsentBytes;
    const QStringList m_decodable; // set once: read on the library's thread
    std::unique_ptr<QObject, void (*)(QObject *)> m_notifier; // on the GUI thread; ready is posted to it
    std::atomic<qint64> m_socketUnsent { 0 };

    mutable std::mutex m_mutex; // guards what follows
    std::deque<Piece> m_pieces;
    qint64 m_waitingBytes = 0;
    bool m_readyPosted = false;
    bool m_waitingForKeyFrame = false;
    bool m_ended = false;
    qint64 m_dropped = 0;
};
