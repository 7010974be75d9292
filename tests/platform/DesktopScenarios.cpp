#include "tests/platform/DesktopScenarios.h"

#include <algorithm>
#include <set>

std::string Expect::describe(const NativeRect &rect)
{
    std::ostringstream out;
    out << "(" << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom << ")";
    return out.str();
}

std::string Expect::describe(const NativePoint &point)
{
    return "(" + std::to_string(point.x) + "," + std::to_string(point.y) + ")";
}

std::string Expect::describe(const NativeMonitor &monitor)
{
    return describe(monitor.rect) + (monitor.primary ? " primary" : "");
}

std::string Expect::describe(const std::u16string &text)
{
    std::string ascii;
    for (char16_t c : text)
        ascii += c < 128 ? char(c) : '?';
    return "\"" + ascii + "\"";
}

std::string Expect::describe(const std::vector<NativeHandle> &handles)
{
    std::string list = "[";
    for (NativeHandle handle : handles)
        list += (list.size() > 1 ? " " : "") + describe(handle);
    return list + "]";
}

bool sameArea(const std::vector<NativeRect> &a, const std::vector<NativeRect> &b)
{
    // Compare coverage on the grid that every edge of both lists spans.
    std::set<int> xs, ys;
    for (const auto *list : {&a, &b}) {
        for (const NativeRect &rect : *list) {
            xs.insert({rect.left, rect.right});
            ys.insert({rect.top, rect.bottom});
        }
    }
    const auto covers = [](const std::vector<NativeRect> &rects, int x, int y) {
        return std::any_of(rects.begin(), rects.end(), [x, y](const NativeRect &rect) {
            return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
        });
    };
    for (int x : xs) {
        for (int y : ys) {
            if (covers(a, x, y) != covers(b, x, y))
                return false;
        }
    }
    return true;
}

namespace {

using Setup = DesktopScript::WindowSetup;

// The given windows in the order the desktop lists its top-level windows (other windows left out).
std::vector<NativeHandle> orderOf(NativeDesktop &desktop, const std::vector<NativeHandle> &windows)
{
    std::vector<NativeHandle> order;
    for (NativeHandle handle : desktop.topLevelWindows()) {
        if (std::find(windows.begin(), windows.end(), handle) != windows.end())
            order.push_back(handle);
    }
    return order;
}

std::string describeRects(const std::vector<NativeRect> &rects)
{
    std::string text;
    for (const NativeRect &rect : rects)
        text += Expect::describe(rect);
    return text.empty() ? "(nothing)" : text;
}

void expectArea(Expect &expect, DesktopScript &script, const NativeRegion &region,
    const std::vector<NativeRect> &expected, const std::string &what)
{
    const std::vector<NativeRect> actual = script.regionRects(region);
    if (!sameArea(actual, expected))
        expect.failures.push_back(
            what + ": got " + describeRects(actual) + ", expected " + describeRects(expected));
}

void zOrderBands(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle a = script.create({u"A", u"LsZOrder", {10, 10, 110, 90}});
    const NativeHandle b = script.create({u"B", u"LsZOrder", {20, 20, 120, 100}});
    const NativeHandle t = script.create({u"T", u"LsZOrder", {30, 30, 130, 110}, 0, true, true});
    const std::vector<NativeHandle> all {a, b, t};
    expect.equal(orderOf(desktop, all), {t, b, a}, "new windows on top of their band");

    const ZOrderPlacement noActivation = ZOrderPlacement::directlyAfter(t);
    desktop.placeWindow(a, noActivation);
    expect.equal(orderOf(desktop, all), {t, a, b}, "after a topmost window: top of the normal windows");
    expect.equal(script.isTopmost(a), false, "A stays out of the topmost band");

    desktop.placeWindow(b, ZOrderPlacement::intoTopmostBand());
    expect.equal(orderOf(desktop, all), {b, t, a}, "into the topmost band: on its top");
    expect.equal(script.isTopmost(b), true, "B topmost");

    desktop.placeWindow(b, ZOrderPlacement::directlyAfter(a));
    expect.equal(orderOf(desktop, all), {t, a, b}, "a topmost window after a normal one leaves the band");
    expect.equal(script.isTopmost(b), false, "B no longer topmost");
    expect.equal(desktop.windowAbove(b), a, "window above B");
    expect.equal(desktop.nextSibling(a), b, "window below A");

    desktop.placeWindow(b, ZOrderPlacement::outOfTopmostBand());
    expect.equal(orderOf(desktop, all), {t, a, b}, "out of the band when not in it: no move");

    desktop.placeWindow(t, ZOrderPlacement::outOfTopmostBand());
    expect.equal(orderOf(desktop, all), {t, a, b}, "out of the band: on top of the normal windows");
    expect.equal(script.isTopmost(t), false, "T no longer topmost");

    desktop.placeWindow(t, ZOrderPlacement::directlyAfter(b));
    expect.equal(orderOf(desktop, all), {a, b, t}, "directly after, same band");
    expect.equal(desktop.windowAbove(t), b, "window above T");
    expect.equal(desktop.placeWindow(a, ZOrderPlacement::directlyAfter(0x7ffff0)), false,
        "after a handle that names no window fails");
}

// The moves a top-level plug-in window makes: right above its browser while another application is in
// front, on top of the normal windows (just below a topmost taskbar) while the browser is, and into the
// topmost band while the browser is full screen.
void pluginWindowZOrder(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle browser = script.create({u"Browser", u"LsZOrder", {10, 10, 500, 400}});
    const NativeHandle other = script.create({u"Other", u"LsZOrder", {40, 40, 300, 300}});
    const NativeHandle plugin = script.create({u"Plugin", u"LsZOrder", {60, 60, 200, 200}});
    const NativeHandle tray = script.create({u"Tray", u"LsZOrder", {0, 500, 600, 540}, 0, true, true});
    const std::vector<NativeHandle> all {browser, other, plugin, tray};
    expect.equal(orderOf(desktop, all), {tray, plugin, other, browser}, "start");

    desktop.placeWindow(plugin, ZOrderPlacement::outOfTopmostBand());
    desktop.placeWindow(plugin, ZOrderPlacement::directlyAfter(desktop.windowAbove(browser)));
    expect.equal(orderOf(desktop, all), {tray, other, plugin, browser}, "right above the browser");
    expect.equal(desktop.windowAbove(browser), plugin, "window above the browser");

    desktop.placeWindow(plugin, ZOrderPlacement::topOfBand());
    expect.equal(orderOf(desktop, all), {tray, plugin, other, browser}, "top of its band");
    desktop.placeWindow(other, ZOrderPlacement::topOfBand());
    expect.equal(orderOf(desktop, all), {tray, other, plugin, browser}, "the other on top of the normal band");

    desktop.placeWindow(plugin, ZOrderPlacement::outOfTopmostBand());
    desktop.placeWindow(plugin, ZOrderPlacement::directlyAfter(tray).withActivation());
    expect.equal(orderOf(desktop, all), {tray, plugin, other, browser}, "just below the topmost taskbar");
    expect.equal(script.isTopmost(plugin), false, "not topmost below the taskbar");

    desktop.placeWindow(plugin, ZOrderPlacement::outOfTopmostBand());
    desktop.placeWindow(plugin, ZOrderPlacement::intoTopmostBand());
    expect.equal(orderOf(desktop, all), {plugin, tray, other, browser}, "topmost for a full-screen browser");
    expect.equal(script.isTopmost(plugin), true, "topmost");
}

void zOrderOfChildren(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle parent = script.create({u"P", u"LsTree", {0, 0, 400, 300}});
    const NativeHandle first = script.create({u"c1", u"LsTree", {0, 0, 50, 50}, parent});
    const NativeHandle second = script.create({u"c2", u"LsTree", {50, 0, 100, 50}, parent});
    const NativeHandle third = script.create({u"c3", u"LsTree", {100, 0, 150, 50}, parent});
    const NativeHandle other = script.create({u"O", u"LsTree", {0, 0, 10, 10}});

    expect.equal(desktop.firstChild(parent), first, "a new child goes below its siblings");
    expect.equal(desktop.nextSibling(first), second, "second child");
    expect.equal(desktop.nextSibling(third), NativeHandle(0), "last child");
    expect.equal(desktop.windowAbove(first), NativeHandle(0), "nothing above the top child");

    desktop.placeWindow(first, ZOrderPlacement::directlyAfter(third));
    expect.equal(desktop.firstChild(parent), second, "moved below the last child");
    expect.equal(desktop.windowAbove(first), third, "above the moved child");

    desktop.placeWindow(first, ZOrderPlacement::directlyAfter(other));
    expect.equal(desktop.windowAbove(first), third, "a window that is no sibling gives no place");
}

void parentAndAncestorWalk(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle browser = script.create({u"Browser", u"LsTree", {100, 50, 900, 650}});
    const NativeHandle content = script.create({u"Content", u"LsTree", {10, 40, 790, 590}, browser});
    const NativeHandle plugin = script.create({u"Plugin", u"LsTree", {30, 20, 330, 220}, content});

    expect.equal(desktop.parent(plugin), content, "parent of the grandchild");
    expect.equal(desktop.parent(browser), NativeHandle(0), "a top-level window has no parent");
    expect.equal(desktop.outermostAncestor(plugin), browser, "outermost ancestor of the grandchild");
    expect.equal(desktop.outermostAncestor(browser), browser, "outermost ancestor of a top-level window");
    expect.equal(desktop.windowRect(plugin), {140, 110, 440, 310}, "grandchild on screen");
    expect.equal(desktop.clientOrigin(plugin), {140, 110}, "grandchild client origin");
    expect.equal(desktop.clientRect(plugin), {0, 0, 300, 200}, "grandchild client rectangle");

    expect.isTrue(desktop.setParent(plugin, browser), "re-parent to the browser");
    expect.equal(desktop.parent(plugin), browser, "new parent");
    expect.equal(desktop.firstChild(browser), plugin, "a re-parented window lands on top");
    expect.equal(desktop.windowRect(plugin), {130, 70, 430, 270}, "position numbers kept in the new parent");

    expect.isTrue(desktop.setParent(plugin, 0), "detach");
    expect.equal(desktop.parent(plugin), NativeHandle(0), "detached window has no parent");
    expect.equal(desktop.outermostAncestor(plugin), plugin, "detached window is its own ancestor");
    expect.equal(desktop.windowRect(plugin), {30, 20, 330, 220}, "position numbers now screen coordinates");
    expect.equal(orderOf(desktop, {browser, plugin}), {plugin, browser}, "detached window lands on top");

    expect.isTrue(!desktop.isWindow(0x7ffff0), "a made-up handle is no window");
    expect.equal(desktop.parent(0x7ffff0), NativeHandle(0), "parent of no window");
    expect.equal(desktop.windowRect(0x7ffff0), NativeRect {}, "rectangle of no window");
}

void visibilityAndStyle(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle browser = script.create({u"Browser", u"LsShow", {0, 0, 400, 300}});
    const NativeHandle child = script.create({u"Child", u"LsShow", {0, 0, 100, 100}, browser});

    expect.isTrue(desktop.isVisible(child), "shown child of a shown window");
    expect.equal(desktop.showWindow(browser, false), true, "hiding answers: was shown");
    expect.isTrue(!desktop.isVisible(browser), "hidden window");
    expect.isTrue(!desktop.isVisible(child), "shown child of a hidden window is not visible");
    expect.equal(desktop.showWindow(browser, true), false, "showing answers: was hidden");
    expect.isTrue(desktop.isVisible(child), "visible again with its parent");

    expect.isTrue(!script.clipsSiblings(child), "no clip-siblings at first");
    expect.isTrue(desktop.addClipSiblings(child), "add clip-siblings");
    expect.isTrue(script.clipsSiblings(child), "clip-siblings added");
    expect.isTrue(desktop.isVisible(child), "style change keeps the window shown");
}

void regionsDifferenceAndUnion(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle window = script.create({u"W", u"LsRegion", {0, 0, 400, 300}});
    expect.isTrue(!desktop.windowRegion(window).has_value(), "a new window has no region");

    const NativeRegion whole = desktop.rectRegion({0, 0, 400, 300});
    const NativeRegion cut
        = desktop.regionDifference(whole, desktop.roundRectRegion({10, 10, 110, 60}, 0, 0));
    expect.isTrue(desktop.setWindowRegion(window, cut, true), "set the cut region");
    const std::optional<NativeRegion> afterCut = desktop.windowRegion(window);
    expect.isTrue(afterCut.has_value(), "the window has a region now");
    if (afterCut)
        expectArea(expect, script, *afterCut,
            {{0, 0, 400, 10}, {0, 10, 10, 60}, {110, 10, 400, 60}, {0, 60, 400, 300}},
            "window minus the rectangle");

    const NativeRegion second = desktop.regionDifference(
        afterCut.value_or(NativeRegion()), desktop.rectRegion({300, 200, 350, 250}));
    desktop.setWindowRegion(window, second, true);
    const NativeRegion repaired = desktop.regionUnion(
        desktop.windowRegion(window).value_or(NativeRegion()), desktop.rectRegion({10, 10, 110, 60}));
    desktop.setWindowRegion(window, repaired, true);
    expectArea(expect, script, desktop.windowRegion(window).value_or(NativeRegion()),
        {{0, 0, 400, 200}, {0, 200, 300, 250}, {350, 200, 400, 250}, {0, 250, 400, 300}},
        "union gives back the first cut only");

    desktop.setWindowRegion(window, desktop.rectRegion({0, 0, 0, 0}), true);
    const std::optional<NativeRegion> empty = desktop.windowRegion(window);
    expect.isTrue(empty.has_value(), "an empty region is still a region");
    if (empty)
        expectArea(expect, script, *empty, {}, "empty region covers nothing");

    expectArea(expect, script, desktop.rectRegion({50, 40, 10, 20}), {{10, 20, 50, 40}},
        "corners in either order span the same rectangle");
    expectArea(expect, script, desktop.roundRectRegion({5, 5, 5, 50}, 0, 0), {}, "zero width is empty");

    // Rounded corners: the shape stays inside its rectangle, leaves the corners out, keeps the middle.
    const std::vector<NativeRect> round = script.regionRects(desktop.roundRectRegion({0, 0, 40, 20}, 12, 12));
    const NativeRect box {0, 0, 40, 20};
    bool inside = !round.empty();
    for (const NativeRect &rect : round)
        inside = inside && rect.left >= 0 && rect.top >= 0 && rect.right <= 40 && rect.bottom <= 20;
    expect.isTrue(inside, "rounded shape inside its rectangle: " + describeRects(round));
    expect.isTrue(sameArea(round,
                      script.regionRects(desktop.regionUnion(
                          desktop.roundRectRegion(box, 12, 12), desktop.rectRegion({0, 6, 40, 14})))),
        "rounded shape spans the full width between its corners");
    expect.isTrue(sameArea(round,
                      script.regionRects(desktop.regionUnion(
                          desktop.roundRectRegion(box, 12, 12), desktop.rectRegion({6, 0, 34, 20})))),
        "rounded shape spans the full height between its corners");
    for (const NativeRect &corner : {NativeRect {0, 0, 1, 1}, NativeRect {39, 0, 40, 1},
             NativeRect {0, 19, 1, 20}, NativeRect {39, 19, 40, 20}}) {
        const NativeRegion pixel = desktop.rectRegion(corner);
        expect.isTrue(
            script.regionRects(desktop.regionDifference(pixel, desktop.roundRectRegion(box, 12, 12))).size()
                == 1,
            "corner pixel " + Expect::describe(corner) + " left out");
    }
}

// What a plug-in window does with its region: a cut with rounded corners, the repair of that cut, and
// the repair of every cut when the window grows.
void pluginWindowCuts(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle window = script.create({u"Plugin", u"LsRegion", {0, 0, 400, 300}});
    const NativeRegion shape = desktop.roundRectRegion({10, 10, 110, 60}, 20, 20);
    desktop.setWindowRegion(window, desktop.regionDifference(desktop.rectRegion({0, 0, 400, 300}), shape), true);
    const NativeRegion cut = desktop.windowRegion(window).value_or(NativeRegion());
    auto covers = [&](const NativeRect &pixel) {
        return script.regionRects(desktop.regionDifference(desktop.rectRegion(pixel), cut)).empty();
    };
    expect.isTrue(covers({10, 10, 11, 11}), "a rounded cut leaves its corner visible");
    expect.isTrue(!covers({60, 35, 61, 36}), "a rounded cut removes its middle");
    expect.isTrue(covers({5, 5, 6, 6}), "outside the cut stays visible");

    desktop.setWindowRegion(window, desktop.regionUnion(cut, shape), true);
    expectArea(expect, script, desktop.windowRegion(window).value_or(NativeRegion()), {{0, 0, 400, 300}},
        "the same shape repairs the cut");

    desktop.setWindowRegion(window, desktop.regionDifference(desktop.rectRegion({0, 0, 400, 300}), shape), true);
    desktop.setWindowRegion(window,
        desktop.regionUnion(desktop.windowRegion(window).value_or(NativeRegion()), desktop.rectRegion({0, 0, 500, 320})),
        true);
    expectArea(expect, script, desktop.windowRegion(window).value_or(NativeRegion()), {{0, 0, 500, 320}},
        "growing makes the window whole");
}

void destroyReachesEmbeddedChild(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle browser = script.create({u"Browser", u"LsDestroy", {0, 0, 400, 300}});
    // Like this process's windows, the plug-in window is made top-level and then embedded.
    const NativeHandle plugin = script.create({u"Plugin", u"LsDestroy", {10, 10, 110, 110}});
    desktop.setParent(plugin, browser);
    const NativeHandle sibling = script.create({u"Sibling", u"LsDestroy", {0, 0, 50, 50}, browser});
    std::vector<NativeHandle> told;
    // The owner of the embedded window keeps it: detached from the dying parent and hidden.
    desktop.watchDestroy(plugin, [&desktop, &told](NativeHandle window) {
        told.push_back(window);
        desktop.setParent(window, 0);
        desktop.showWindow(window, false);
    });

    expect.isTrue(script.destroy(browser), "destroy the browser window");
    expect.equal(told, {plugin}, "the owner of the embedded window was told once");
    expect.isTrue(!desktop.isWindow(browser), "browser gone");
    expect.isTrue(!desktop.isWindow(sibling), "the other child went with it");
    expect.isTrue(desktop.isWindow(plugin), "the detached window survives");
    expect.equal(desktop.parent(plugin), NativeHandle(0), "it is top-level now");
    expect.isTrue(!desktop.isVisible(plugin), "and hidden");
    expect.equal(desktop.windowRect(browser), NativeRect {}, "a gone window has an empty rectangle");

    desktop.unwatchDestroy(plugin);
    script.destroy(plugin);
    expect.equal(told.size() == 1, true, "no word after unwatching");
}

void foregroundAndActivation(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle first = script.create({u"First", u"LsFocus", {0, 0, 100, 100}});
    const NativeHandle second = script.create({u"Second", u"LsFocus", {0, 0, 100, 100}});

    expect.isTrue(desktop.setForegroundWindow(first), "set the foreground");
    expect.equal(desktop.foregroundWindow(), first, "foreground window");
    desktop.placeWindow(second, ZOrderPlacement::directlyAfter(first));
    expect.equal(desktop.foregroundWindow(), first, "a move without activation leaves the foreground");
    desktop.placeWindow(second, ZOrderPlacement::directlyAfter(first).withActivation());
    expect.equal(desktop.foregroundWindow(), second, "a move with activation takes the foreground");
    expect.equal(orderOf(desktop, {first, second}), {second, first}, "and is raised on top of its band");
}

void fullScreenPlacement(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle browser = script.create({u"Browser", u"LsFull", {0, 0, 800, 600}});
    const NativeHandle plugin = script.create({u"Plugin", u"LsFull", {10, 10, 310, 210}, 0, false});
    desktop.setParent(plugin, browser);

    desktop.setParent(plugin, 0);
    expect.isTrue(
        desktop.placeWindow(plugin, ZOrderPlacement::intoTopmostBand().shown().withGeometry({0, 0, 0, 0})),
        "place into the topmost band, shown, at 0 x 0");
    expect.isTrue(desktop.isVisible(plugin), "shown by the move");
    expect.isTrue(script.isTopmost(plugin), "topmost");
    expect.equal(desktop.windowRect(plugin), {0, 0, 0, 0}, "moved and resized");
    expect.equal(orderOf(desktop, {browser, plugin}), {plugin, browser}, "above the browser");
}

void monitorAndLookupByClass(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeRect screen = script.screen();
    const NativeHandle onScreen = script.create({u"On", u"LsProbeClass", {100, 100, 300, 200}});
    const NativeHandle offScreen
        = script.create({u"Off", u"LsMonitor", {screen.right + 500, 100, screen.right + 700, 200}});

    expect.equal(desktop.monitorNearestWindow(onScreen), std::optional<NativeMonitor>({screen, true}),
        "monitor of a window on it");
    expect.equal(desktop.monitorNearestWindow(offScreen), std::optional<NativeMonitor>({screen, true}),
        "nearest monitor of a window off every monitor");
    expect.equal(desktop.monitorNearestWindow(0x7ffff0).has_value(), false, "no monitor for no window");
    expect.equal(desktop.findWindowByClass(u"LsProbeClass"), onScreen, "found by class");
    expect.equal(desktop.findWindowByClass(u"LsNoSuchClass"), NativeHandle(0), "unknown class");
    expect.equal(desktop.className(onScreen), std::u16string(u"LsProbeClass"), "class name");
    expect.equal(desktop.className(onScreen, 5), std::u16string(u"LsPr"), "class name cut to its buffer");
    expect.equal(desktop.windowTitle(offScreen), std::u16string(u"Off"), "title");

    const std::u16string longTitle(300, u'x');
    const NativeHandle titled = script.create({longTitle, u"LsMonitor", {0, 0, 10, 10}});
    expect.equal(int(desktop.windowTitle(titled).size()), NativeDesktop::kNameBufferChars - 1,
        "a title is read up to its buffer");
}

void browserSearchByTitle(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const std::u16string session = u"{0b5f8c2e-1d3a-4c6b-9e7f-a1b2c3d4e5f6}";
    script.create({u"Other - page", u"LsBrowser", {0, 0, 100, 100}});
    const NativeHandle browser
        = script.create({u"Cameras " + session + u" - Browser", u"LsBrowser", {0, 0, 100, 100}});
    script.create({u"Notes", u"LsBrowser", {0, 0, 100, 100}});

    NativeHandle found = 0;
    for (NativeHandle window : desktop.topLevelWindows()) {
        if (desktop.windowTitle(window).find(session) != std::u16string::npos) {
            found = window;
            break;
        }
    }
    expect.equal(found, browser, "the window whose title holds the session id");
}

void monitorsAndTaskbars(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeMonitor primary {{0, 0, 1920, 1080}, true};
    const NativeMonitor secondary {{1920, 0, 3200, 1024}, false};
    script.setMonitors({primary, secondary});
    const DesktopScript::Taskbars bars = script.createTaskbars();

    expect.equal(desktop.findWindowByClass(u"Shell_TrayWnd"), bars.primary, "primary taskbar by class");
    expect.equal(
        desktop.findWindowByClass(u"Shell_SecondaryTrayWnd"), bars.secondary, "secondary taskbar by class");
    expect.equal(desktop.findWindowByClass(u"Button"), bars.startButton, "start button by class");
    expect.equal(desktop.primaryTaskbar(), bars.primary, "primary taskbar");
    expect.equal(desktop.secondaryTaskbar(), bars.secondary, "secondary taskbar");
    expect.equal(desktop.startButton(), bars.startButton, "start button");
    expect.equal(desktop.monitorNearestWindow(bars.primary), std::optional<NativeMonitor>(primary),
        "primary taskbar on the primary monitor");
    expect.equal(desktop.monitorNearestWindow(bars.secondary), std::optional<NativeMonitor>(secondary),
        "secondary taskbar on the other monitor");

    const NativeHandle straddling = script.create({u"S", u"LsMonitor", {1800, 0, 2400, 500}});
    expect.equal(desktop.monitorNearestWindow(straddling), std::optional<NativeMonitor>(secondary),
        "the monitor with the larger share");
    const NativeHandle below = script.create({u"B", u"LsMonitor", {100, 2000, 300, 2100}});
    expect.equal(
        desktop.monitorNearestWindow(below), std::optional<NativeMonitor>(primary), "the closest monitor");

    // A full-screen browser hides the taskbar and the start button; leaving shows them again.
    desktop.showWindow(bars.primary, false);
    desktop.showWindow(bars.startButton, false);
    expect.isTrue(!desktop.isVisible(bars.primary) && !desktop.isVisible(bars.startButton), "taskbar hidden");
    desktop.showWindow(bars.primary, true);
    desktop.showWindow(bars.startButton, true);
    expect.isTrue(desktop.isVisible(bars.primary) && desktop.isVisible(bars.startButton), "taskbar shown");

    // A plug-in window placed right after the taskbar sits just below the topmost band.
    const NativeHandle browser = script.create({u"Browser", u"LsBrowser", {0, 0, 800, 600}});
    const NativeHandle plugin = script.create({u"Plugin", u"LsPlugin", {10, 10, 110, 110}});
    desktop.placeWindow(plugin, ZOrderPlacement::directlyAfter(bars.primary).withActivation());
    expect.equal(orderOf(desktop, {bars.primary, bars.startButton, bars.secondary, browser, plugin}),
        {bars.secondary, bars.startButton, bars.primary, plugin, browser},
        "below the taskbars, above the rest");
    expect.isTrue(!script.isTopmost(plugin), "not topmost");
}

void foregroundAndThreadInput(DesktopScript &script, Expect &expect)
{
    NativeDesktop &desktop = script.desktop();
    const NativeHandle browser = script.create({u"Browser", u"LsBrowser", {0, 0, 800, 600}});
    const NativeHandle content = script.create({u"Content", u"LsBrowser", {0, 0, 800, 600}, browser});
    const NativeHandle other = script.create({u"Other", u"LsOther", {0, 0, 800, 600}});

    desktop.setForegroundWindow(content);
    expect.equal(desktop.foregroundWindow(), browser, "a child makes its top-level window the foreground");
    desktop.setForegroundWindow(other);
    desktop.setForegroundWindow(browser);
    expect.equal(orderOf(desktop, {browser, other}), {browser, other}, "the foreground window is raised");

    expect.isTrue(desktop.attachThreadInput(other, true), "attach");
    expect.isTrue(script.isInputAttached(other), "attached");
    expect.isTrue(desktop.attachThreadInput(other, false), "detach");
    expect.isTrue(!script.isInputAttached(other), "detached");
    expect.isTrue(!desktop.attachThreadInput(0x7ffff0, true), "no window, no thread");
}

} // namespace

const std::vector<DesktopScenario> &desktopScenarios()
{
    static const std::vector<DesktopScenario> scenarios {
        {"z-order bands", zOrderBands, false},
        {"plug-in window z-order", pluginWindowZOrder, false},
        {"z-order of children", zOrderOfChildren, false},
        {"parent and ancestor walk", parentAndAncestorWalk, false},
        {"visibility and style", visibilityAndStyle, false},
        {"regions difference and union", regionsDifferenceAndUnion, false},
        {"plug-in window cuts", pluginWindowCuts, false},
        {"destroy reaches embedded child", destroyReachesEmbeddedChild, false},
        {"foreground and activation", foregroundAndActivation, false},
        {"full-screen placement", fullScreenPlacement, false},
        {"monitor and lookup by class", monitorAndLookupByClass, false},
        {"browser search by title", browserSearchByTitle, false},
        {"monitors and taskbars", monitorsAndTaskbars, true},
        {"foreground and thread input", foregroundAndThreadInput, true},
    };
    return scenarios;
}
