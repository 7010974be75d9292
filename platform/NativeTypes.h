#pragma once

#include <cstdint>

// Plain value types of the native desktop layer. They carry no Qt and no operating-system types, so
// every backend (and the Windows build, which has no Qt) shares them.

// A native window handle: an HWND on Windows, an id of the in-memory desktop, a Qt window's winId().
// 0 means "no window".
using NativeHandle = std::uintptr_t;

// A rectangle in pixels. right and bottom are exclusive edges: the rectangle covers the columns
// left .. right-1 and the rows top .. bottom-1, so width = right - left and height = bottom - top.
// This is the convention of the Windows RECT; a rectangle with right <= left or bottom <= top is empty.
struct NativeRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool operator==(const NativeRect &other) const
    {
        return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
    }
    bool operator!=(const NativeRect &other) const { return !(*this == other); }
};

struct NativePoint
{
    int x = 0;
    int y = 0;

    bool operator==(const NativePoint &other) const { return x == other.x && y == other.y; }
    bool operator!=(const NativePoint &other) const { return !(*this == other); }
};

// A monitor: its full rectangle in screen coordinates and whether it is the primary one.
struct NativeMonitor
{
    NativeRect rect;
    bool primary = false;

    bool operator==(const NativeMonitor &other) const
    {
        return rect == other.rect && primary == other.primary;
    }
};

// How an attempt to start this executable again with administrator rights ended.
enum class ElevationOutcome {
    Started, // the elevated copy was started; this process should end
    Cancelled, // the user refused the elevation prompt
    FileNotFound, // the executable could not be found
    Other, // any other failure
    Unsupported, // this system has no way to relaunch elevated
};

// A z-order move, optionally combined with showing the window, activating it and placing it.
// Build it with one of the three factories and the modifiers:
//   ZOrderPlacement::directlyAfter(tray).withActivation()
//   ZOrderPlacement::intoTopmostBand().shown().withGeometry({0, 0, 0, 0})
struct ZOrderPlacement
{
    enum class Where {
        OutOfTopmostBand, // leaves the topmost band, lands on top of the normal windows; no move if not
                          // topmost
        IntoTopmostBand, // joins the topmost band, on its top
        DirectlyAfter, // right below `after` (a sibling), taking its band
        TopOfBand, // on top of the band the window is in
    };

    Where where = Where::OutOfTopmostBand;
    NativeHandle after = 0; // DirectlyAfter only
    bool activate = false; // activating a top-level window raises it and makes it the foreground window
    bool show = false; // show the window as part of the move
    bool moveAndResize = false; // also take `geometry` (parent client coordinates, screen for top-level)
    NativeRect geometry;

    static ZOrderPlacement outOfTopmostBand() { return ZOrderPlacement(Where::OutOfTopmostBand, 0); }
    static ZOrderPlacement intoTopmostBand() { return ZOrderPlacement(Where::IntoTopmostBand, 0); }
    static ZOrderPlacement directlyAfter(NativeHandle window)
    {
        return ZOrderPlacement(Where::DirectlyAfter, window);
    }
    static ZOrderPlacement topOfBand() { return ZOrderPlacement(Where::TopOfBand, 0); }

    ZOrderPlacement withActivation() const
    {
        ZOrderPlacement copy = *this;
        copy.activate = true;
        return copy;
    }
    ZOrderPlacement shown() const
    {
        ZOrderPlacement copy = *this;
        copy.show = true;
        return copy;
    }
    ZOrderPlacement withGeometry(const NativeRect &rect) const
    {
        ZOrderPlacement copy = *this;
        copy.moveAndResize = true;
        copy.geometry = rect;
        return copy;
    }

private:
    ZOrderPlacement(Where place, NativeHandle window)
        : where(place)
        , after(window)
    {
    }
};
