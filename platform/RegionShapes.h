#pragma once

#include "platform/NativeTypes.h"

#include <QRect>
#include <QRegion>

// The region shapes of the backends that keep their regions in QRegion (the in-memory and the X11
// desktop), so that both cut exactly the same pixels.
namespace RegionShapes {

// Corners given in any order span the same rectangle, as with the Windows region calls.
QRect normalisedRect(const NativeRect &rect);

// A rectangle whose corners are quarter ellipses of the given width and height (0 gives the plain
// rectangle): each row is cut by the ellipses at its ends, sampled at the row's middle, and rows with
// the same cut share one rectangle.
QRegion roundRect(const NativeRect &rect, int ellipseWidth, int ellipseHeight);

} // namespace RegionShapes
