#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <QImage>
#include <QSize>

struct AVFrame;
struct SwsContext;

// Converts decoded frames into the widget's pixel format at a cell's size, into an image it reuses.
// Measured on 1080p frames (CPU per frame): a conversion without scaling costs 0.6 ms, any scaling to
// near the frame's own size 3 ms, into a quarter-width cell 0.2 ms with point sampling and 0.4 ms with
// fast bilinear (bilinear 1.1 ms). So a cell within 1 % of the frame's size shows the frame unscaled
// (trimmed or with a bar of at most 1 %) where the format has the fast conversion (4:2:0 and 4:2:2),
// a cell of a third of the frame or less samples points (its aliasing is no worse to the eye than fast
// bilinear's at that size), and other sizes take fast bilinear.
class FrameScaler
{
public:
    enum class Method { Convert, Point, FastBilinear };

    FrameScaler() = default;
    ~FrameScaler();
    FrameScaler(const FrameScaler &) = delete;
    FrameScaler &operator=(const FrameScaler &) = delete;

    // The frame's size inside target: the whole target, or (fit) the largest size of the frame's shape.
    static QSize scaledSize(int width, int height, AVRational sampleAspect, QSize target, bool fit);
    // How a frame of source size and format reaches size, and the size of the image that comes out.
    static Method methodFor(QSize source, int format, QSize size);
    static QSize outputSize(QSize source, int format, QSize size);

    // Converts frame into image at outputSize(); image keeps its pixels when it has that size
    // already. Answers false when the frame cannot be converted.
    bool scale(const AVFrame &frame, QSize size, QImage &image);

private:
    SwsContext *m_context = nullptr; // for the last sizes and format asked
};
