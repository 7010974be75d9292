#include "standins/video_control/StreamRecorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "standins/video_control/NewFile.h"
#include "standins/video_control/PlayerLimits.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr int kIoBufferBytes = 64 * 1024;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoBytes = const uint8_t *;
#else
using IoBytes = uint8_t *;
#endif

int writeToDescriptor(void *opaque, IoBytes bytes, int size)
{
    return writeAll(*static_cast<int *>(opaque), reinterpret_cast<const char *>(bytes), size) ? size : AVERROR(EIO);
}

int64_t seekDescriptor(void *opaque, int64_t offset, int whence)
{
    const int descriptor = *static_cast<int *>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status;
        return ::fstat(descriptor, &status) == 0 ? int64_t(status.st_size) : AVERROR(EIO);
    }
    const off_t at = ::lseek(descriptor, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(EIO) : int64_t(at);
}

const char *containerFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mp4"))
        return "mp4";
    if (suffix == QLatin1String("ts"))
        return "mpegts";
    return "matroska";
}

} // namespace

long long StreamRecorder::freeDiskBytes(const QString &path)
{
    // statvfs asks the file system itself, so it answers in a container or chroot too, where the mount
    // table does not name the disk.
    QFileInfo at(path);
    for (int depth = 0; depth < 64 && !at.exists(); ++depth) {
        const QString parent = at.absolutePath();
        if (parent == at.absoluteFilePath())
            break;
        at = QFileInfo(parent);
    }
    struct statvfs disk;
    if (::statvfs(QFile::encodeName(at.absoluteFilePath()).constData(), &disk) != 0)
        return -1;
    return (long long)(disk.f_bavail) * (long long)(disk.f_frsize);
}

std::unique_ptr<StreamRecorder> StreamRecorder::open(const QString &path, const AVCodecParameters *parameters,
    AVRational inputTimeBase, QString *error)
{
    std::unique_ptr<StreamRecorder> recorder(new StreamRecorder);
    recorder->m_inputTimeBase = inputTimeBase;
    if (avformat_alloc_output_context2(&recorder->m_output, nullptr, containerFor(path), nullptr) < 0) {
        *error = QStringLiteral("no container for the file");
        return nullptr;
    }
    AVStream *stream = avformat_new_stream(recorder->m_output, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, parameters) < 0) {
        *error = QStringLiteral("no stream in the file");
        return nullptr;
    }
    stream->codecpar->codec_tag = 0;
    stream->time_base = inputTimeBase;
    recorder->m_descriptor = createNewFile(path);
    if (recorder->m_descriptor < 0) {
        *error = QStringLiteral("the file cannot be written");
        return nullptr;
    }
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
    recorder->m_io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, &recorder->m_descriptor, nullptr,
                                &writeToDescriptor, &seekDescriptor)
                          : nullptr;
    if (!recorder->m_io) {
        av_free(buffer);
        *error = QStringLiteral("out of memory");
        return nullptr;
    }
    recorder->m_output->pb = recorder->m_io;
    recorder->m_output->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_write_header(recorder->m_output, nullptr) < 0) {
        recorder->m_output->pb = nullptr; // no header, so no trailer
        *error = QStringLiteral("the container does not take this stream");
        return nullptr;
    }
    recorder->m_headerBytes = avio_tell(recorder->m_output->pb);
    return recorder;
}

StreamRecorder::~StreamRecorder()
{
    finish();
}

void StreamRecorder::limit(long long maxFileBytes, long long minFreeDiskBytes)
{
    m_maxBytes = maxFileBytes;
    m_minFreeBytes = minFreeDiskBytes;
}

StreamRecorder::Written StreamRecorder::write(const AVPacket *packet)
{
    if (!m_output || m_failed)
        return Written::Ok;
    // Muxers may hold back what they write (a Matroska cluster): the stream's own bytes count as well.
    const long long size = qMax<long long>(avio_tell(m_output->pb), m_headerBytes + m_payloadBytes);
    // The container's framing and closing index come on top of the limit.
    if (m_maxBytes >= 0 && size + packet->size > m_maxBytes)
        return Written::SizeLimit;
    if (m_minFreeBytes >= 0 && size >= m_nextDiskCheck) {
        m_nextDiskCheck = size + kFreeDiskCheckBytes;
        struct statvfs disk;
        if (::fstatvfs(m_descriptor, &disk) == 0
            && (long long)(disk.f_bavail) * (long long)(disk.f_frsize) - kFreeDiskCheckBytes < m_minFreeBytes)
            return Written::DiskFull;
    }
    if (!m_started && !(packet->flags & AV_PKT_FLAG_KEY))
        return Written::Ok;
    const long long dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    const long long pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (dts == AV_NOPTS_VALUE)
        return Written::Ok;
    if (!m_started) {
        m_started = true;
        m_firstTimestamp = dts;
    }
    AVPacket *copy = av_packet_clone(packet);
    if (!copy) {
        m_failed = true;
        return Written::Ok;
    }
    copy->stream_index = 0;
    copy->pts = pts - m_firstTimestamp;
    copy->dts = dts - m_firstTimestamp;
    // A muxer refuses timestamps that go back (a restarted source); such packets are left out.
    const AVRational outputTimeBase = m_output->streams[0]->time_base;
    av_packet_rescale_ts(copy, m_inputTimeBase, outputTimeBase);
    if (copy->dts < m_lastDts || copy->pts < copy->dts) {
        av_packet_free(&copy);
        return Written::Ok;
    }
    m_lastDts = copy->dts;
    m_payloadBytes += copy->size;
    if (av_write_frame(m_output, copy) < 0)
        m_failed = true;
    av_packet_free(&copy);
    return Written::Ok;
}

bool StreamRecorder::finish()
{
    if (m_output) {
        if (m_output->pb && av_write_trailer(m_output) < 0)
            m_failed = true;
        avformat_free_context(m_output);
        m_output = nullptr;
    }
    if (m_io) {
        avio_flush(m_io);
        if (m_io->error < 0)
            m_failed = true;
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_descriptor >= 0) {
        if (::close(m_descriptor) != 0)
            m_failed = true;
        m_descriptor = -1;
    }
    return !m_failed;
}
