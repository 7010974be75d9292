#include "standins/video_control/StreamRecorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "standins/video_control/PlayerLimits.h"

#include <QFileInfo>
#include <QStorageInfo>

std::unique_ptr<StreamRecorder> StreamRecorder::open(const QString &path, const AVCodecParameters *parameters,
    AVRational inputTimeBase, QString *error)
{
    std::unique_ptr<StreamRecorder> recorder(new StreamRecorder);
    recorder->inputTimeBase = inputTimeBase;
    recorder->directory = QFileInfo(path).absolutePath();
    const QByteArray file = path.toUtf8();
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    const AVOutputFormat *format = av_guess_format(nullptr, file.constData(), nullptr);
    if (!format || suffix.isEmpty())
        format = av_guess_format("matroska", nullptr, nullptr);
    if (avformat_alloc_output_context2(&recorder->output, format, nullptr, file.constData()) < 0) {
        *error = QStringLiteral("no container for the file");
        return nullptr;
    }
    AVStream *stream = avformat_new_stream(recorder->output, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, parameters) < 0) {
        *error = QStringLiteral("no stream in the file");
        return nullptr;
    }
    stream->codecpar->codec_tag = 0;
    stream->time_base = inputTimeBase;
    if (avio_open(&recorder->output->pb, file.constData(), AVIO_FLAG_WRITE) < 0) {
        *error = QStringLiteral("the file cannot be written");
        return nullptr;
    }
    if (avformat_write_header(recorder->output, nullptr) < 0) {
        avio_closep(&recorder->output->pb); // no header, so no trailer
        *error = QStringLiteral("the container does not take this stream");
        return nullptr;
    }
    recorder->headerBytes = avio_tell(recorder->output->pb);
    return recorder;
}

StreamRecorder::~StreamRecorder()
{
    finish();
}

void StreamRecorder::limit(long long maxFileBytes, long long minFreeDiskBytes)
{
    maxBytes = maxFileBytes;
    minFreeBytes = minFreeDiskBytes;
}

StreamRecorder::Written StreamRecorder::write(const AVPacket *packet)
{
    if (!output || failed)
        return Written::Ok;
    // Muxers may hold back what they write (a Matroska cluster): the stream's own bytes count as well.
    const long long size = qMax<long long>(avio_tell(output->pb), headerBytes + payloadBytes);
    // The container's framing and closing index come on top of the limit.
    if (maxBytes >= 0 && size + packet->size > maxBytes)
        return Written::SizeLimit;
    if (minFreeBytes >= 0 && size >= nextDiskCheck) {
        nextDiskCheck = size + kFreeDiskCheckBytes;
        const QStorageInfo disk(directory);
        if (disk.isValid() && disk.bytesAvailable() - kFreeDiskCheckBytes < minFreeBytes)
            return Written::DiskFull;
    }
    if (!started && !(packet->flags & AV_PKT_FLAG_KEY))
        return Written::Ok;
    const long long dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    const long long pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (dts == AV_NOPTS_VALUE)
        return Written::Ok;
    if (!started) {
        started = true;
        firstTimestamp = dts;
    }
    AVPacket *copy = av_packet_clone(packet);
    if (!copy) {
        failed = true;
        return Written::Ok;
    }
    copy->stream_index = 0;
    copy->pts = pts - firstTimestamp;
    copy->dts = dts - firstTimestamp;
    // A muxer refuses timestamps that go back (a restarted source); such packets are left out.
    const AVRational outputTimeBase = output->streams[0]->time_base;
    av_packet_rescale_ts(copy, inputTimeBase, outputTimeBase);
    if (copy->dts < lastDts || copy->pts < copy->dts) {
        av_packet_free(&copy);
        return Written::Ok;
    }
    lastDts = copy->dts;
    payloadBytes += copy->size;
    if (av_write_frame(output, copy) < 0)
        failed = true;
    av_packet_free(&copy);
    return Written::Ok;
}

bool StreamRecorder::finish()
{
    if (!output)
        return !failed;
    if (output->pb) {
        if (av_write_trailer(output) < 0)
            failed = true;
        avio_closep(&output->pb);
    }
    avformat_free_context(output);
    output = nullptr;
    return !failed;
}
