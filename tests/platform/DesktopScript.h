#pragma once

#include "platform/NativeDesktop.h"

#include <string>
#include <vector>

// What the desktop scenarios need beyond the NativeDesktop interface: making and destroying windows
// and reading back what the interface keeps opaque. One implementation scripts the in-memory desktop,
// the other makes real windows through Win32 (run under Wine). Plain C++: the Windows build has no Qt.
class DesktopScript
{
public:
    struct WindowSetup
    {
        std::u16string title;
        std::u16string className;
        NativeRect rect {}; // parent client coordinates, screen coordinates for a top-level window
        NativeHandle parent = 0;
        bool visible = true;
        bool topmost = false;
    };

    virtual ~DesktopScript() = default;

    virtual NativeDesktop &desktop() = 0;
    // A frameless window (client area = window rectangle).
    virtual NativeHandle create(const WindowSetup &setup) = 0;
    virtual bool destroy(NativeHandle window) = 0;
    virtual std::vector<NativeRect> regionRects(const NativeRegion &region) = 0;
    virtual bool isTopmost(NativeHandle window) = 0;
    virtual bool clipsSiblings(NativeHandle window) = 0;
    // The one monitor the scenarios start with.
    virtual NativeRect screen() = 0;

    // Scripting only the in-memory desktop offers; scenarios that need it run there alone.
    virtual void setMonitors(const std::vector<NativeMonitor> &) { }
    struct Taskbars
    {
        NativeHandle primary = 0;
        NativeHandle secondary = 0;
        NativeHandle startButton = 0;
    };
    virtual Taskbars createTaskbars() { return {}; }
    virtual bool isInputAttached(NativeHandle) { return false; }
};
