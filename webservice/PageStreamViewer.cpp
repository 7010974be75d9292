#include "webservice/PageStreamViewer.h"

#include "webservice/WebServiceLog.h"

namespace {

// The notifier may go with the last reference on the library's thread: it is deleted on its own.
void deleteOnItsThread(QObject *object)
{
    object->deleteLater();
}

} // namespace

PageStreamViewer::PageStreamViewer(std::function<void()> ready, qint64 maxUnsentBytes, QStringList decodable)
    : ready(std::move(ready))
    , maxUnsentBytes(maxUnsentBytes)
    , decodable(std::move(decodable))
    , notifier(new QObject, &deleteOnItsThread)
{
}

PageStreamViewer::~PageStreamViewer() = default;

void PageStreamViewer::streamCodec(const QByteArray &codec, int width, int height)
{
    add(Piece { Piece::Codec, codec, width, height });
}

void PageStreamViewer::streamInit(const QByteArray &segment)
{
    add(Piece { Piece::Init, segment, 0, 0 });
}

void PageStreamViewer::streamFragment(const QByteArray &fragment, bool keyFrame)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (ended)
            return;
        const bool behind = waitingBytes + socketUnsent.load() > maxUnsentBytes;
        if (behind && !waitingForKeyFrame)
            qCDebug(lcWebService) << "page stream behind, frames dropped until a key frame" << waitingBytes
                                  << socketUnsent.load();
        if (behind || (waitingForKeyFrame && !keyFrame)) {
            waitingForKeyFrame = true;
            ++dropped;
            return;
        }
        waitingForKeyFrame = false;
    }
    add(Piece { Piece::Fragment, fragment, 0, 0 });
}

void PageStreamViewer::streamEnded()
{
    add(Piece { Piece::Ended, QByteArray(), 0, 0 });
}

bool PageStreamViewer::streamPlays(const QByteArray &codec) const
{
    return decodable.isEmpty() || decodable.contains(QString::fromLatin1(codec).section(QLatin1Char('.'), 0, 0));
}

void PageStreamViewer::streamTranscoding(const QByteArray &from, double cpuPercent)
{
    Piece piece { Piece::Transcoding, from, 0, 0 };
    piece.cpuPercent = cpuPercent;
    add(std::move(piece));
}

void PageStreamViewer::streamNotTranscoded(const QByteArray &codec, int refusal)
{
    Piece piece { Piece::NotTranscoded, codec, 0, 0 };
    piece.refusal = refusal;
    add(std::move(piece));
}

void PageStreamViewer::add(Piece piece)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (ended)
            return;
        ended = piece.kind == Piece::Ended;
        waitingBytes += piece.bytes.size();
        pieces.push_back(std::move(piece));
        if (readyPosted)
            return;
        readyPosted = true;
    }
    const std::weak_ptr<PageStreamViewer> self = weak_from_this();
    QMetaObject::invokeMethod(
        notifier.get(),
        [self] {
            if (const std::shared_ptr<PageStreamViewer> viewer = self.lock())
                viewer->ready();
        },
        Qt::QueuedConnection);
}

std::deque<PageStreamViewer::Piece> PageStreamViewer::take()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::deque<Piece> taken;
    taken.swap(pieces);
    waitingBytes = 0;
    readyPosted = false;
    return taken;
}

qint64 PageStreamViewer::droppedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return dropped;
}
