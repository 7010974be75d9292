#include "standins/video_control/FrameScaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QtGlobal>

namespace {

// A cell this close to the frame's size (per side) shows the frame unscaled: trimmed, or with a bar.
constexpr int kNearPercent = 1;
// A cell this many times smaller than the frame, or more, (on both sides) samples points.
constexpr int kPointSamplingFactor = 3;

// Vectorised conversions write whole blocks of pixels: past the end of a row whose width is not a
// multiple of the block. Rows are padded to it, and one padded row more ends the buffer.
constexpr int kRowBlockPixels = 16;

QImage paddedImage(QSize size)
{
    const qsizetype stride
        = qsizetype((size.width() + kRowBlockPixels - 1) / kRowBlockPixels * kRowBlockPixels) * 4;
    auto *pixels = static_cast<uchar *>(av_malloc(size_t(stride) * size_t(size.height() + 1)));
    if (!pixels)
        return QImage();
    return QImage(
        pixels, size.width(), size.height(), stride, QImage::Format_RGB32,
        [](void *buffer) { av_free(buffer); }, pixels);
}

bool near(int source, int size)
{
    return qAbs(source - size) * 100 <= source * kNearPercent;
}

// The frame's planes from (left, top) on, for a planar format; left and top are multiples of the
// chroma subsampling. Answers false for other formats.
bool cropPlanes(const AVFrame &frame, int left, int top, const uint8_t *planes[4])
{
    const AVPixFmtDescriptor *format = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    if (!format || !(format->flags & AV_PIX_FMT_FLAG_PLANAR)
        || (format->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)))
        return false;
    for (int i = 0; i < 4; ++i)
        planes[i] = frame.data[i];
    for (int c = 0; c < format->nb_components; ++c) {
        const AVComponentDescriptor &component = format->comp[c];
        const bool chroma = c == 1 || c == 2;
        const int x = chroma ? left >> format->log2_chroma_w : left;
        const int y = chroma ? top >> format->log2_chroma_h : top;
        planes[component.plane] = frame.data[component.plane] + qint64(y) * frame.linesize[component.plane]
            + qint64(x) * component.step;
    }
    return true;
}

} // namespace

FrameScaler::~FrameScaler()
{
    sws_freeContext(m_context);
}

QSize FrameScaler::scaledSize(int width, int height, AVRational sampleAspect, QSize target, bool fit)
{
    if (!fit || width <= 0 || height <= 0)
        return target;
    double shape = double(width) / height;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        shape *= av_q2d(sampleAspect);
    int outWidth = target.width();
    int outHeight = int(outWidth / shape + 0.5);
    if (outHeight > target.height()) {
        outHeight = target.height();
        outWidth = int(outHeight * shape + 0.5);
    }
    return QSize(qMax(2, outWidth), qMax(2, outHeight));
}

FrameScaler::Method FrameScaler::methodFor(QSize source, int format, QSize size)
{
    // The formats the library converts without scaling on a fast path; others cost as much as scaling.
    const bool fastFormat = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P;
    if (fastFormat && near(source.width(), size.width()) && near(source.height(), size.height()))
        return Method::Convert;
    if (size.width() * kPointSamplingFactor <= source.width()
        && size.height() * kPointSamplingFactor <= source.height())
        return Method::Point;
    return Method::FastBilinear;
}

QSize FrameScaler::outputSize(QSize source, int format, QSize size)
{
    if (methodFor(source, format, size) != Method::Convert)
        return size;
    // An even height keeps the conversion on its fast path (it converts rows in pairs).
    const QSize out = size.boundedTo(source);
    return QSize(out.width(), out.height() & ~1);
}

bool FrameScaler::scale(const AVFrame &frame, QSize size, QImage &image)
{
    const QSize source(frame.width, frame.height);
    const Method method = source == size ? Method::Convert : methodFor(source, frame.format, size);
    const QSize out = source == size ? size : outputSize(source, frame.format, size);
    const uint8_t *planes[4] = {frame.data[0], frame.data[1], frame.data[2], frame.data[3]};
    QSize from = source;
    if (method == Method::Convert && out != source) {
        // Trimmed evenly on both sides, at a place the chroma planes share.
        const AVPixFmtDescriptor *format = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
        const int alignX = format ? 1 << format->log2_chroma_w : 2;
        const int alignY = format ? 1 << format->log2_chroma_h : 2;
        const int left = (source.width() - out.width()) / 2 / alignX * alignX;
        const int top = (source.height() - out.height()) / 2 / alignY * alignY;
        if (cropPlanes(frame, left, top, planes))
            from = out;
    }
    const int flags = method == Method::Point ? SWS_POINT : SWS_FAST_BILINEAR;
    m_context = sws_getCachedContext(m_context, from.width(), from.height(), AVPixelFormat(frame.format),
        out.width(), out.height(), AV_PIX_FMT_RGB32, flags, nullptr, nullptr, nullptr);
    if (!m_context)
        return false;
    const qsizetype rowBytes
        = qsizetype((out.width() + kRowBlockPixels - 1) / kRowBlockPixels * kRowBlockPixels) * 4;
    if (image.size() != out || image.format() != QImage::Format_RGB32 || image.bytesPerLine() < rowBytes)
        image = paddedImage(out);
    if (image.isNull())
        return false;
    uint8_t *destination[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(m_context, planes, frame.linesize, 0, from.height(), destination, strides);
    return true;
}
