// Runs the desktop scenarios through the Windows backend on real windows: cross-compiled with
// MinGW-w64 and run under Wine by scripts/win32-check.sh. Prints one line per scenario and closes with
// "N passed, N failed"; the exit code is 0 only when nothing failed.
#include "platform/win32/Win32Desktop.h"
#include "tests/platform/DesktopScenarios.h"

#include <windows.h>

#include <cstdio>
#include <set>
#include <vector>

namespace {

// The screen Xvfb gives Wine in scripts/win32-check.sh.
constexpr NativeRect kScreen {0, 0, 1280, 1024};

Win32Desktop *g_desktop = nullptr;

// Hands every message to the desktop the way Qt hands it to QWidget::nativeEvent.
LRESULT CALLBACK scriptWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg = {};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    if (g_desktop && g_desktop->handleNativeMessage("windows_generic_MSG", &msg))
        return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

void pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class Win32Script : public DesktopScript
{
public:
    ~Win32Script() override { destroyAll(); }

    NativeDesktop &desktop() override { return m_desktop; }
    Win32Desktop &win32Desktop() { return m_desktop; }

    NativeHandle create(const WindowSetup &setup) override
    {
        const std::wstring className(setup.className.begin(), setup.className.end());
        registerClass(className);
        const std::wstring title(setup.title.begin(), setup.title.end());
        DWORD style = setup.parent ? WS_CHILD : WS_POPUP;
        if (setup.visible)
            style |= WS_VISIBLE;
        const HWND window = CreateWindowExW(setup.topmost ? WS_EX_TOPMOST : 0, className.c_str(),
            title.c_str(), style, setup.rect.left, setup.rect.top, setup.rect.width(), setup.rect.height(),
            reinterpret_cast<HWND>(setup.parent), nullptr, GetModuleHandleW(nullptr), nullptr);
        m_created.push_back(window);
        return reinterpret_cast<NativeHandle>(window);
    }
    bool destroy(NativeHandle window) override { return DestroyWindow(reinterpret_cast<HWND>(window)); }
    std::vector<NativeRect> regionRects(const NativeRegion &region) override
    {
        const HRGN handle = static_cast<HRGN>(Win32Desktop::regionHandle(region));
        const DWORD size = handle ? GetRegionData(handle, 0, nullptr) : 0;
        if (size == 0)
            return {};
        std::vector<char> buffer(size);
        RGNDATA *data = reinterpret_cast<RGNDATA *>(buffer.data());
        if (GetRegionData(handle, size, data) == 0)
            return {};
        std::vector<NativeRect> rects;
        const RECT *rect = reinterpret_cast<const RECT *>(data->Buffer);
        for (DWORD i = 0; i < data->rdh.nCount; ++i)
            rects.push_back({int(rect[i].left), int(rect[i].top), int(rect[i].right), int(rect[i].bottom)});
        return rects;
    }
    bool isTopmost(NativeHandle window) override
    {
        return GetWindowLongW(reinterpret_cast<HWND>(window), GWL_EXSTYLE) & WS_EX_TOPMOST;
    }
    bool clipsSiblings(NativeHandle window) override
    {
        return GetWindowLongW(reinterpret_cast<HWND>(window), GWL_STYLE) & WS_CLIPSIBLINGS;
    }
    NativeRect screen() override { return kScreen; }

    void destroyAll()
    {
        for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
            if (IsWindow(*it))
                DestroyWindow(*it);
        }
        m_created.clear();
        pumpMessages();
    }

private:
    void registerClass(const std::wstring &className)
    {
        if (!m_classes.insert(className).second)
            return;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = scriptWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = m_classes.find(className)->c_str();
        RegisterClassW(&windowClass);
    }

    Win32Desktop m_desktop;
    std::vector<HWND> m_created;
    std::set<std::wstring> m_classes;
};

} // namespace

int main()
{
    Win32Script script;
    g_desktop = &script.win32Desktop();
    int passed = 0;
    int failed = 0;
    for (const DesktopScenario &scenario : desktopScenarios()) {
        if (scenario.memoryOnly) {
            std::printf("SKIP %s (in-memory desktop only)\n", scenario.name);
            continue;
        }
        Expect expect;
        scenario.run(script, expect);
        script.destroyAll();
        std::printf("%s %s\n", expect.failures.empty() ? "PASS" : "FAIL", scenario.name);
        for (const std::string &failure : expect.failures)
            std::printf("    %s\n", failure.c_str());
        ++(expect.failures.empty() ? passed : failed);
    }

    // Own windows: one made here is this process's, the desktop window (another process's) is not.
    const NativeHandle own = script.create({u"Own", u"LsOwnWindow", {10, 10, 110, 110}});
    const bool ownKnown = script.win32Desktop().isOwnWindow(own)
        && !script.win32Desktop().isOwnWindow(reinterpret_cast<NativeHandle>(GetDesktopWindow()))
        && !script.win32Desktop().isOwnWindow(0);
    script.destroyAll();
    std::printf("%s own window check\n", ownKnown ? "PASS" : "FAIL");
    ++(ownKnown ? passed : failed);

    // A browser's parts by their class names: the compositor child by "D3D Window" (or "Software
    // Window"); the page content is never one of this process's windows, and every window here is.
    const NativeHandle browser = script.create({u"Browser", u"Chrome_WidgetWin_1", {0, 0, 400, 300}});
    const NativeHandle content = script.create({u"", u"Chrome_RenderWidgetHostHWND", {0, 40, 400, 300}, browser});
    const NativeHandle compositor = script.create({u"", u"Intermediate D3D Window", {0, 0, 400, 300}, browser});
    const NativeHandle software = script.create({u"", u"Intermediate Software Window", {0, 0, 400, 300}, content});
    Win32Desktop &desktop = script.win32Desktop();
    const bool partsKnown = desktop.compositorChild(browser) == compositor && desktop.compositorChild(content) == software
        && desktop.compositorChild(compositor) == 0 && desktop.pageContentChild(browser) == 0
        && desktop.pageContentChild(0) == 0;
    script.destroyAll();
    std::printf("%s browser parts check\n", partsKnown ? "PASS" : "FAIL");
    ++(partsKnown ? passed : failed);

    // Process rights: Wine runs everything as an administrator. The relaunch itself is not tried
    // here: on failure the system shows a dialog, which nobody would close.
    const bool administrator = script.win32Desktop().isUserAdministrator();
    std::printf("%s administrator check\n", administrator ? "PASS" : "FAIL");
    ++(administrator ? passed : failed);

    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
