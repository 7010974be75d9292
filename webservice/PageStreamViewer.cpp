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
    : m_ready(std::move(ready))
    , m_maxUnsentBytes(maxUnsentBytes)
    , m_decodable(std::move(decodable))
    , m_notifier(new QObject, &deleteOnItsThread)
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
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended)
            return;
        const bool behind = m_waitingBytes + m_socketUnsent.load() > m_maxUnsentBytes;
        if (behind && !m_waitingForKeyFrame)
            qCDebug(lcWebService) << "page stream behind, frames dropped until a key frame" << m_waitingBytes
                                  << m_socketUnsent.load();
        if (behind || (m_waitingForKeyFrame && !keyFrame)) {
            m_waitingForKeyFrame = true;
            ++m_dropped;
            return;
        }
        m_waitingForKeyFrame = false;
    }
    add(Piece { Piece::Fragment, fragment, 0, 0 });
}

void PageStreamViewer::streamEnded()
{
    add(Piece { Piece::Ended, QByteArray(), 0, 0 });
}

bool PageStreamViewer::streamPlays(const QByteArray &codec) const
{
    return m_decodable.isEmpty() || m_decodable.contains(QString::fromLatin1(codec).section(QLatin1Char('.'), 0, 0));
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
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended)
            return;
        m_ended = piece.kind == Piece::Ended;
        m_waitingBytes += piece.bytes.size();
        m_pieces.push_back(std::move(piece));
        if (m_readyPosted)
            return;
        m_readyPosted = true;
    }
    const std::weak_ptr<PageStreamViewer> self = weak_from_this();
    QMetaObject::invokeMethod(
        m_notifier.get(),
        [self] {
            if (const std::shared_ptr<PageStreamViewer> viewer = self.lock())
                viewer->m_ready();
        },
        Qt::QueuedConnection);
}

std::deque<PageStreamViewer::Piece> PageStreamViewer::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::deque<Piece> taken;
    taken.swap(m_pieces);
    m_waitingBytes = 0;
    m_readyPosted = false;
    return taken;
}

qint64 PageStreamViewer::droppedFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}
