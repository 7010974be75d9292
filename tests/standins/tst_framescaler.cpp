#include "standins/video_control/FrameScaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <QtTest>

#include <cstring>
#include <memory>

namespace {

using Frame = std::unique_ptr<AVFrame, void (*)(AVFrame *)>;

Frame newFrame(int width, int height, AVPixelFormat format)
{
    Frame frame(av_frame_alloc(), [](AVFrame *f) { av_frame_free(&f); });
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        frame.reset();
    return frame;
}

// Luma and both chroma planes vary with position, so that a plane read from the wrong place shows.
Frame patternFrame(int width, int height, AVPixelFormat format)
{
    Frame frame = newFrame(width, height, format);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        const int h = plane ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                frame->data[plane][y * frame->linesize[plane] + x]
                    = uint8_t(plane == 0 ? 16 + (x * 7 + y * 3) % 220 : 64 + (x * (plane + 1) + y * 5) % 128);
        }
    }
    return frame;
}

Frame uniformFrame(int width, int height, uint8_t luma, uint8_t u, uint8_t v)
{
    Frame frame = newFrame(width, height, AV_PIX_FMT_YUV420P);
    const uint8_t values[3] = {luma, u, v};
    for (int plane = 0; plane < 3; ++plane) {
        const int h = plane ? (height + 1) / 2 : height;
        for (int y = 0; y < h; ++y)
            std::memset(frame->data[plane] + y * frame->linesize[plane], values[plane],
                size_t(frame->linesize[plane]));
    }
    return frame;
}

} // namespace

class TestFrameScaler : public QObject
{
    Q_OBJECT

private slots:
    void methodAndSize_data();
    void methodAndSize();
    void nearSizesShowTheFrameUnscaled_data();
    void nearSizesShowTheFrameUnscaled();
    void everyPixelIsConverted_data();
    void everyPixelIsConverted();
    void imageIsReused();
};

void TestFrameScaler::methodAndSize_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("cell");
    QTest::addColumn<int>("method");
    QTest::addColumn<QSize>("output");
    using M = FrameScaler::Method;
    QTest::newRow("one cell of 1920x1080, filled")
        << QSize(1920, 1080) << QSize(1916, 1076) << int(M::Convert) << QSize(1916, 1076);
    QTest::newRow("one cell of 1920x1080, fitted")
        << QSize(1920, 1080) << QSize(1913, 1076) << int(M::Convert) << QSize(1913, 1076);
    QTest::newRow("1 % smaller") << QSize(1920, 1080) << QSize(1901, 1070) << int(M::Convert)
                                 << QSize(1901, 1070);
    QTest::newRow("odd height: one row less")
        << QSize(1920, 1080) << QSize(1913, 1075) << int(M::Convert) << QSize(1913, 1074);
    QTest::newRow("past 1 % smaller")
        << QSize(1920, 1080) << QSize(1900, 1070) << int(M::FastBilinear) << QSize(1900, 1070);
    QTest::newRow("1 % larger: unscaled, with a bar")
        << QSize(1280, 720) << QSize(1292, 727) << int(M::Convert) << QSize(1280, 720);
    QTest::newRow("past 1 % larger") << QSize(1280, 720) << QSize(1293, 727) << int(M::FastBilinear)
                                     << QSize(1293, 727);
    QTest::newRow("four cells") << QSize(1920, 1080) << QSize(956, 536) << int(M::FastBilinear)
                                << QSize(956, 536);
    QTest::newRow("a third") << QSize(1920, 1080) << QSize(640, 360) << int(M::Point) << QSize(640, 360);
    QTest::newRow("past a third") << QSize(1920, 1080) << QSize(641, 360) << int(M::FastBilinear)
                                  << QSize(641, 360);
    QTest::newRow("sixteen cells") << QSize(1920, 1080) << QSize(476, 266) << int(M::Point)
                                   << QSize(476, 266);
    QTest::newRow("a small stream in a large cell")
        << QSize(320, 240) << QSize(956, 536) << int(M::FastBilinear) << QSize(956, 536);
    QTest::newRow("its own size") << QSize(1920, 1080) << QSize(1920, 1080) << int(M::Convert)
                                  << QSize(1920, 1080);
}

void TestFrameScaler::methodAndSize()
{
    QFETCH(QSize, source);
    QFETCH(QSize, cell);
    QFETCH(int, method);
    QFETCH(QSize, output);
    QCOMPARE(int(FrameScaler::methodFor(source, AV_PIX_FMT_YUV420P, cell)), method);
    QCOMPARE(FrameScaler::outputSize(source, AV_PIX_FMT_YUV420P, cell), output);

    const Frame frame = uniformFrame(source.width(), source.height(), 128, 128, 128);
    FrameScaler scaler;
    QImage image;
    QVERIFY(scaler.scale(*frame, cell, image));
    QCOMPARE(image.size(), output);
}

void TestFrameScaler::nearSizesShowTheFrameUnscaled_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("cell");
    for (const AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P}) {
        for (const QSize cell :
            {QSize(1916, 1076), QSize(1913, 1075), QSize(1917, 1079), QSize(1920, 1077)}) {
            QTest::addRow("%s into %dx%d", av_get_pix_fmt_name(format), cell.width(), cell.height())
                << int(format) << cell;
        }
    }
}

// A near size is the frame trimmed evenly: the same pixels as the whole frame converted, at the place the
// trim starts (chroma included).
void TestFrameScaler::nearSizesShowTheFrameUnscaled()
{
    QFETCH(int, format);
    QFETCH(QSize, cell);
    const Frame frame = patternFrame(1920, 1080, AVPixelFormat(format));
    QVERIFY(frame);
    FrameScaler whole;
    QImage reference;
    QVERIFY(whole.scale(*frame, QSize(1920, 1080), reference));
    FrameScaler scaler;
    QImage image;
    QVERIFY(scaler.scale(*frame, cell, image));
    const QSize out(cell.width(), cell.height() & ~1);
    QCOMPARE(image.size(), out);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(format));
    const int alignX = 1 << desc->log2_chroma_w;
    const int alignY = 1 << desc->log2_chroma_h;
    const QPoint trim(
        (1920 - out.width()) / 2 / alignX * alignX, (1080 - out.height()) / 2 / alignY * alignY);
    QCOMPARE(image, reference.copy(QRect(trim, out)));
}

void TestFrameScaler::everyPixelIsConverted_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("cell");
    QTest::newRow("unscaled, odd width") << QSize(1920, 1080) << QSize(1913, 1075);
    QTest::newRow("point, odd width") << QSize(1920, 1080) << QSize(477, 267);
    QTest::newRow("fast bilinear, odd width") << QSize(1920, 1080) << QSize(957, 537);
    QTest::newRow("upscaled, odd width") << QSize(320, 240) << QSize(637, 477);
    QTest::newRow("odd source") << QSize(321, 241) << QSize(319, 239);
}

// A uniform red frame comes out red to its last column and row (no edge left to a vectorised loop).
void TestFrameScaler::everyPixelIsConverted()
{
    QFETCH(QSize, source);
    QFETCH(QSize, cell);
    const Frame frame = uniformFrame(source.width(), source.height(), 81, 90, 240); // red in BT.601
    FrameScaler scaler;
    QImage image(cell, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QVERIFY(scaler.scale(*frame, cell, image));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) < 230 || qGreen(pixel) > 25 || qBlue(pixel) > 25)
                QFAIL(qPrintable(
                    QStringLiteral("pixel %1,%2 is #%3").arg(x).arg(y).arg(pixel, 8, 16, QLatin1Char('0'))));
        }
    }
}

// Frame after frame at one size, the image keeps its pixels.
void TestFrameScaler::imageIsReused()
{
    const Frame frame = uniformFrame(1920, 1080, 128, 128, 128);
    FrameScaler scaler;
    QImage image;
    QVERIFY(scaler.scale(*frame, QSize(476, 266), image));
    const uchar *pixels = image.constBits();
    for (int i = 0; i < 3; ++i) {
        QVERIFY(scaler.scale(*frame, QSize(476, 266), image));
        QCOMPARE(image.constBits(), pixels);
    }
}

QTEST_GUILESS_MAIN(TestFrameScaler)
#include "tst_framescaler.moc"
