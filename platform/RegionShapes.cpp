#include "platform/RegionShapes.h"

#include <algorithm>
#include <cmath>

namespace RegionShapes {

QRect normalisedRect(const NativeRect &rect)
{
    const int left = std::min(rect.left, rect.right);
    const int top = std::min(rect.top, rect.bottom);
    const int right = std::max(rect.left, rect.right);
    const int bottom = std::max(rect.top, rect.bottom);
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

QRegion roundRect(const NativeRect &rect, int ellipseWidth, int ellipseHeight)
{
    const QRect bounds = normalisedRect(rect);
    if (ellipseWidth <= 0 || ellipseHeight <= 0 || bounds.isEmpty())
        return QRegion(bounds);
    const double radiusX = std::min(ellipseWidth, bounds.width()) / 2.0;
    const double radiusY = std::min(ellipseHeight, bounds.height()) / 2.0;
    QRegion region;
    int bandTop = 0;
    int bandInset = -1;
    for (int row = 0; row <= bounds.height(); ++row) {
        int inset = -1;
        if (row < bounds.height()) {
            const double middle = row + 0.5;
            double fromCentre = 0;
            if (middle < radiusY)
                fromCentre = radiusY - middle;
            else if (middle > bounds.height() - radiusY)
                fromCentre = middle - (bounds.height() - radiusY);
            const double ratio = std::min(1.0, fromCentre / radiusY);
            inset = int(std::lround(radiusX * (1.0 - std::sqrt(1.0 - ratio * ratio))));
        }
        if (inset != bandInset) {
            if (bandInset >= 0 && bounds.width() > 2 * bandInset)
                region += QRect(bounds.left() + bandInset, bounds.top() + bandTop,
                    bounds.width() - 2 * bandInset, row - bandTop);
            bandTop = row;
            bandInset = inset;
        }
    }
    return region;
}

namespace {

long long overlapArea(const NativeRect &a, const NativeRect &b)
{
    const long long width = std::min(a.right, b.right) - std::max(a.left, b.left);
    const long long height = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return width > 0 && height > 0 ? width * height : 0;
}

long long squaredDistance(const NativeRect &a, const NativeRect &b)
{
    const long long dx = std::max({0, b.left - a.right, a.left - b.right});
    const long long dy = std::max({0, b.top - a.bottom, a.top - b.bottom});
    return dx * dx + dy * dy;
}

} // namespace

std::optional<NativeMonitor> nearestMonitor(const std::vector<NativeMonitor> &monitors, const NativeRect &rect)
{
    const auto best = std::min_element(
        monitors.begin(), monitors.end(), [&rect](const NativeMonitor &a, const NativeMonitor &b) {
            const long long overlapA = overlapArea(a.rect, rect);
            const long long overlapB = overlapArea(b.rect, rect);
            if (overlapA != overlapB)
                return overlapA > overlapB;
            return squaredDistance(a.rect, rect) < squaredDistance(b.rect, rect);
        });
    if (best == monitors.end())
        return std::nullopt;
    return *best;
}

} // namespace RegionShapes
