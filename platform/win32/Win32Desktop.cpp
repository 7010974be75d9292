#include "platform/win32/Win32Desktop.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The event type under which Qt hands a window's MSG to QWidget::nativeEvent.
constexpr const char *kQtWindowsMessage = "windows_generic_MSG";
// GetModuleFileNameW's buffer, in wide characters; a path that fills it was cut and is not used.
constexpr DWORD kModulePathChars = 260;

const std::u16string kPrimaryTaskbarClass = u"Shell_TrayWnd";
const std::u16string kSecondaryTaskbarClass = u"Shell_SecondaryTrayWnd";
const std::u16string kStartButtonClass = u"Button";
const std::u16string kCompositorClassPart = u"D3D Window";
const std::u16string kSoftwareCompositorClassPart = u"Software Window";
// Class names of a browser's children are read into buffers of these sizes, terminating zero included.
constexpr int kContentClassChars = 100;
constexpr int kCompositorClassChars = 260;

bool contains(const std::u16string &text, const std::u16string &part)
{
    return text.find(part) != std::u16string::npos;
}

HWND toHwnd(NativeHandle handle)
{
    return reinterpret_cast<HWND>(handle);
}

NativeHandle toHandle(HWND window)
{
    return reinterpret_cast<NativeHandle>(window);
}

NativeRect toNativeRect(const RECT &rect)
{
    return {int(rect.left), int(rect.top), int(rect.right), int(rect.bottom)};
}

std::u16string fromWide(const wchar_t *text, int length)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");
    return std::u16string(reinterpret_cast<const char16_t *>(text), std::size_t(std::max(length, 0)));
}

// Owns one GDI region; deleted with the last NativeRegion that shares it.
struct Win32RegionData : NativeRegion::Data
{
    explicit Win32RegionData(HRGN region)
        : handle(region)
    {
    }
    ~Win32RegionData() override
    {
        if (handle)
            DeleteObject(handle);
    }
    Win32RegionData(const Win32RegionData &) = delete;
    Win32RegionData &operator=(const Win32RegionData &) = delete;

    const HRGN handle;
};

NativeRegion wrap(HRGN region)
{
    return NativeRegion(std::make_shared<const Win32RegionData>(region));
}

HRGN newEmptyRegion()
{
    return CreateRectRgn(0, 0, 0, 0);
}

// A region made by this backend, or a temporary empty one (deleted with `temporary`) for anything else.
HRGN regionOrEmpty(const NativeRegion &region, NativeRegion &temporary)
{
    if (const Win32RegionData *data = region.dataAs<Win32RegionData>())
        return data->handle;
    temporary = wrap(newEmptyRegion());
    return temporary.dataAs<Win32RegionData>()->handle;
}

NativeRegion combine(const NativeRegion &a, const NativeRegion &b, int mode)
{
    NativeRegion emptyA, emptyB;
    HRGN result = newEmptyRegion();
    if (result)
        CombineRgn(result, regionOrEmpty(a, emptyA), regionOrEmpty(b, emptyB), mode);
    return wrap(result);
}

} // namespace

// ---------------------------------------------------------------- finding windows

std::vector<NativeHandle> Win32Desktop::topLevelWindows()
{
    std::vector<NativeHandle> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<NativeHandle> *>(list)->push_back(toHandle(window));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::u16string Win32Desktop::windowTitle(NativeHandle window)
{
    wchar_t title[kNameBufferChars] = {};
    return fromWide(title, GetWindowTextW(toHwnd(window), title, kNameBufferChars));
}

std::u16string Win32Desktop::className(NativeHandle window, int bufferChars)
{
    wchar_t name[kNameBufferChars] = {};
    const int chars = std::clamp(bufferChars, 0, kNameBufferChars);
    return chars > 0 ? fromWide(name, GetClassNameW(toHwnd(window), name, chars)) : std::u16string();
}

NativeHandle Win32Desktop::findWindowByClass(const std::u16string &className)
{
    return toHandle(FindWindowW(reinterpret_cast<const wchar_t *>(className.c_str()), nullptr));
}

// Qt's window classes ("Qt5QWindowIcon", "Qt5QWindowToolSaveBits", ...) count as this process's
// whichever process made the window, so that no Qt window is ever taken for a browser's page content;
// other classes count by their process.
bool Win32Desktop::isOwnWindow(NativeHandle window)
{
    if (!IsWindow(toHwnd(window)))
        return false;
    if (className(window).find(u"Qt5QWindow") != std::u16string::npos)
        return true;
    DWORD process = 0;
    GetWindowThreadProcessId(toHwnd(window), &process);
    return process == GetCurrentProcessId();
}

// ---------------------------------------------------------------- the desktop's and the browser's parts

NativeHandle Win32Desktop::primaryTaskbar()
{
    return findWindowByClass(kPrimaryTaskbarClass);
}

NativeHandle Win32Desktop::secondaryTaskbar()
{
    return findWindowByClass(kSecondaryTaskbarClass);
}

NativeHandle Win32Desktop::startButton()
{
    return findWindowByClass(kStartButtonClass);
}

NativeHandle Win32Desktop::pageContentChild(NativeHandle browser)
{
    for (HWND child = GetWindow(toHwnd(browser), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // This process's own windows (a plug-in window embedded there) are never the page content.
        if (isOwnWindow(toHandle(child)))
            continue;
        if (contains(className(toHandle(child), kContentClassChars), kCompositorClassPart))
            continue;
        return toHandle(child);
    }
    return 0;
}

NativeHandle Win32Desktop::compositorChild(NativeHandle browser)
{
    for (HWND child = GetWindow(toHwnd(browser), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::u16string name = className(toHandle(child), kCompositorClassChars);
        if (contains(name, kCompositorClassPart) || contains(name, kSoftwareCompositorClassPart))
            return toHandle(child);
    }
    return 0;
}

// ---------------------------------------------------------------- the window tree

// GetAncestor's parent of a top-level window is the desktop window; the interface says "none".
NativeHandle Win32Desktop::parent(NativeHandle window)
{
    const HWND hwnd = toHwnd(window);
    if (GetAncestor(hwnd, GA_ROOT) == hwnd)
        return 0;
    return toHandle(GetAncestor(hwnd, GA_PARENT));
}

NativeHandle Win32Desktop::outermostAncestor(NativeHandle window)
{
    return toHandle(GetAncestor(toHwnd(window), GA_ROOT));
}

NativeHandle Win32Desktop::firstChild(NativeHandle window)
{
    return toHandle(GetWindow(toHwnd(window), GW_CHILD));
}

NativeHandle Win32Desktop::nextSibling(NativeHandle window)
{
    return toHandle(GetWindow(toHwnd(window), GW_HWNDNEXT));
}

NativeHandle Win32Desktop::windowAbove(NativeHandle window)
{
    return toHandle(GetWindow(toHwnd(window), GW_HWNDPREV));
}

bool Win32Desktop::isWindow(NativeHandle window)
{
    return window && IsWindow(toHwnd(window));
}

bool Win32Desktop::isVisible(NativeHandle window)
{
    return IsWindowVisible(toHwnd(window));
}

// ---------------------------------------------------------------- geometry

NativeRect Win32Desktop::windowRect(NativeHandle window)
{
    RECT rect = {};
    return GetWindowRect(toHwnd(window), &rect) ? toNativeRect(rect) : NativeRect {};
}

NativeRect Win32Desktop::clientRect(NativeHandle window)
{
    RECT rect = {};
    return GetClientRect(toHwnd(window), &rect) ? toNativeRect(rect) : NativeRect {};
}

NativePoint Win32Desktop::clientOrigin(NativeHandle window)
{
    POINT origin = {0, 0};
    return ClientToScreen(toHwnd(window), &origin) ? NativePoint {int(origin.x), int(origin.y)}
                                                   : NativePoint {};
}

// ---------------------------------------------------------------- foreground and input

NativeHandle Win32Desktop::foregroundWindow()
{
    return toHandle(GetForegroundWindow());
}

bool Win32Desktop::setForegroundWindow(NativeHandle window)
{
    return SetForegroundWindow(toHwnd(window));
}

bool Win32Desktop::attachThreadInput(NativeHandle window, bool attach)
{
    const DWORD windowThread = GetWindowThreadProcessId(toHwnd(window), nullptr);
    return windowThread && AttachThreadInput(windowThread, GetCurrentThreadId(), attach);
}

// ---------------------------------------------------------------- parent, z-order, visibility, style

// SetParent answers the previous parent (the desktop window for a top-level one), null on failure.
bool Win32Desktop::setParent(NativeHandle child, NativeHandle newParent)
{
    return SetParent(toHwnd(child), toHwnd(newParent)) != nullptr;
}

bool Win32Desktop::placeWindow(NativeHandle window, const ZOrderPlacement &placement)
{
    HWND insertAfter = nullptr;
    switch (placement.where) {
    case ZOrderPlacement::Where::OutOfTopmostBand:
        insertAfter = HWND_NOTOPMOST;
        break;
    case ZOrderPlacement::Where::IntoTopmostBand:
        insertAfter = HWND_TOPMOST;
        break;
    case ZOrderPlacement::Where::DirectlyAfter:
        insertAfter = toHwnd(placement.after);
        if (!insertAfter)
            return false; // null would mean "on top", which nobody asked for
        break;
    case ZOrderPlacement::Where::TopOfBand:
        insertAfter = HWND_TOP;
        break;
    }
    UINT flags = 0;
    if (!placement.activate)
        flags |= SWP_NOACTIVATE;
    if (!placement.moveAndResize)
        flags |= SWP_NOMOVE | SWP_NOSIZE;
    if (placement.show)
        flags |= SWP_SHOWWINDOW;
    const NativeRect &rect = placement.geometry;
    return SetWindowPos(toHwnd(window), insertAfter, rect.left, rect.top, rect.width(), rect.height(), flags);
}

bool Win32Desktop::showWindow(NativeHandle window, bool show)
{
    return ShowWindow(toHwnd(window), show ? SW_SHOW : SW_HIDE);
}

bool Win32Desktop::addClipSiblings(NativeHandle window)
{
    const HWND hwnd = toHwnd(window);
    if (!IsWindow(hwnd))
        return false;
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    SetWindowLongW(hwnd, GWL_STYLE, style | WS_CLIPSIBLINGS);
    return (GetWindowLongW(hwnd, GWL_STYLE) & WS_CLIPSIBLINGS) != 0;
}

// ---------------------------------------------------------------- regions

NativeRegion Win32Desktop::rectRegion(const NativeRect &rect)
{
    return wrap(CreateRectRgn(rect.left, rect.top, rect.right, rect.bottom));
}

// CreateRoundRectRgn leaves out the last column and row of the rectangle it is given; one more pixel on
// the right and bottom makes the shape cover exactly `rect`, like the plain rectangle does.
NativeRegion Win32Desktop::roundRectRegion(const NativeRect &rect, int ellipseWidth, int ellipseHeight)
{
    const int left = std::min(rect.left, rect.right);
    const int top = std::min(rect.top, rect.bottom);
    const int right = std::max(rect.left, rect.right);
    const int bottom = std::max(rect.top, rect.bottom);
    if (ellipseWidth <= 0 || ellipseHeight <= 0 || right == left || bottom == top)
        return wrap(CreateRectRgn(left, top, right, bottom));
    return wrap(CreateRoundRectRgn(left, top, right + 1, bottom + 1, ellipseWidth, ellipseHeight));
}

NativeRegion Win32Desktop::regionDifference(const NativeRegion &from, const NativeRegion &removed)
{
    return combine(from, removed, RGN_DIFF);
}

NativeRegion Win32Desktop::regionUnion(const NativeRegion &a, const NativeRegion &b)
{
    return combine(a, b, RGN_OR);
}

// GetWindowRgn copies the window's region into one we own; ERROR means the window has none.
std::optional<NativeRegion> Win32Desktop::windowRegion(NativeHandle window)
{
    NativeRegion copy = wrap(newEmptyRegion());
    const HRGN handle = copy.dataAs<Win32RegionData>()->handle;
    if (!handle || GetWindowRgn(toHwnd(window), handle) == ERROR)
        return std::nullopt;
    return copy;
}

bool Win32Desktop::setWindowRegion(NativeHandle window, const NativeRegion &region, bool redraw)
{
    // The window takes ownership of what SetWindowRgn accepts, so it gets a copy of its own.
    NativeRegion empty;
    const HRGN source = regionOrEmpty(region, empty);
    const HRGN copy = newEmptyRegion();
    if (!copy)
        return false;
    if (CombineRgn(copy, source, source, RGN_OR) == ERROR || !SetWindowRgn(toHwnd(window), copy, redraw)) {
        DeleteObject(copy);
        return false;
    }
    return true;
}

void *Win32Desktop::regionHandle(const NativeRegion &region)
{
    const Win32RegionData *data = region.dataAs<Win32RegionData>();
    return data ? data->handle : nullptr;
}

// ---------------------------------------------------------------- monitors

std::optional<NativeMonitor> Win32Desktop::monitorNearestWindow(NativeHandle window)
{
    if (!isWindow(window))
        return std::nullopt;
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    const HMONITOR monitor = MonitorFromWindow(toHwnd(window), MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info))
        return std::nullopt;
    return NativeMonitor {toNativeRect(info.rcMonitor), (info.dwFlags & MONITORINFOF_PRIMARY) != 0};
}

// ---------------------------------------------------------------- destruction

void Win32Desktop::watchDestroy(NativeHandle window, DestroyObserver observer)
{
    m_destroyObservers[window] = std::move(observer);
}

void Win32Desktop::unwatchDestroy(NativeHandle window)
{
    m_destroyObservers.erase(window);
}

// WM_DESTROY reaches a window when it is destroyed, also when its parent is: the parent's first, then
// its children's.
bool Win32Desktop::handleNativeMessage(const char *eventType, void *message)
{
    if (!eventType || !message || std::strcmp(eventType, kQtWindowsMessage) != 0)
        return false;
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message != WM_DESTROY)
        return false;
    const auto it = m_destroyObservers.find(toHandle(msg->hwnd));
    if (it == m_destroyObservers.end())
        return false;
    // The window is going: its observer is told once and dropped.
    const DestroyObserver observer = std::move(it->second);
    m_destroyObservers.erase(it);
    if (observer)
        observer(toHandle(msg->hwnd));
    return true;
}

// ---------------------------------------------------------------- process rights

bool Win32Desktop::isUserAdministrator()
{
    return IsUserAnAdmin();
}

ElevationOutcome Win32Desktop::relaunchElevated()
{
    wchar_t path[kModulePathChars] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, kModulePathChars);
    if (length == 0 || length >= kModulePathChars)
        return ElevationOutcome::Other;
    return runElevated(std::wstring(path, length));
}

ElevationOutcome Win32Desktop::runElevated(const std::wstring &path)
{
    SHELLEXECUTEINFOW info = {};
    // The structure's own size: 60 bytes in a 32-bit build, more in a 64-bit one.
    info.cbSize = sizeof(info);
    info.fMask = 0;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.lpParameters = nullptr;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info))
        return ElevationOutcome::Started;
    switch (GetLastError()) {
    case ERROR_CANCELLED:
        return ElevationOutcome::Cancelled;
    case ERROR_FILE_NOT_FOUND:
        return ElevationOutcome::FileNotFound;
    default:
        return ElevationOutcome::Other;
    }
}
