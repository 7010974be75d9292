#pragma once

#include "platform/NativeTypes.h"

#include <QRect>
#include <QRegion>

#include <optional>
#include <vector>

// The region shapes and the monitor choice of the backends that do in Qt what Windows does for them (the
// in-memory and the X11 desktop), so that both cut exactly the same pixels and pick the same monitor.
namespace RegionShapes {

// Corners given in any order span the same rectangle, as with the Windows region calls.
QRect normalisedRect(const NativeRect &rect);

// A rectangle whose corners are quarter ellipses of the given width and height (0 gives the plain
// rectangle): each row is cut by the ellipses at its ends, sampled at the row's middle, and rows with
// the same cut share one rectangle.
QRegion roundRect(const NativeRect &rect, int ellipseWidth, int ellipseHeight);

// The monitor a window's rectangle overlaps most, else the one nearest to it (as MonitorFromWindow with
// MONITOR_DEFAULTTONEAREST); none when there is no monitor.
std::optional<NativeMonitor> nearestMonitor(const std::vector<NativeMonitor> &monitors, const NativeRect &rect);

} // namespace RegionShapes
