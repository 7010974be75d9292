#include "tests/window/WindowScene.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"

#include <QtTest>

Q_DECLARE_METATYPE(NativeRect)

namespace {

QStringList g_log;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log.append(message);
}

constexpr NativeRect kPrimary = MemoryDesktop::kDefaultMonitor;
constexpr NativeRect kSecondary {1920, 0, 3840, 1080};

// The browser's window and its page content fill rect: the page content starts at the window's top.
void goFullScreen(MemoryDesktop &desktop, const WindowScene::Browser &browser, const NativeRect &rect)
{
    desktop.moveWindow(browser.window, rect);
    desktop.moveWindow(browser.content,
        {-WindowScene::kBorder, -WindowScene::kTitleBar, rect.width() - WindowScene::kBorder,
            rect.height() - WindowScene::kTitleBar});
}

QRegion regionOf(WindowScene &scene)
{
    const std::optional<NativeRegion> region = scene.desktop.windowRegion(scene.window()->selfHandle());
    return region ? MemoryDesktop::toQRegion(*region) : QRegion();
}

int logCount(const QString &line)
{
    return int(g_log.count(line));
}

} // namespace

class TestBrowserTracking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(captureLog); }
    void init() { g_log.clear(); }

    void regions_data();
    void regions();
    void roundedCornersCutLess();
    void dragSettlesOnce();
    void topLevelZOrder();
    void topLevelZOrderWithoutTaskbar();
    void fullScreenTaskbars_data();
    void fullScreenTaskbars();
    void parentDestroyed();
    void stillBrowserCost();
    void timersDriveTheTicks();
};

// Steps on a 400 x 300 window: "cut x y w h corner", "repair x y w h corner", "place x y w h".
void TestBrowserTracking::regions_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("hasRegion");
    QTest::addColumn<QRegion>("region");

    const QRegion whole(0, 0, 400, 300);
    QTest::newRow("cut") << QStringList {"cut 10 10 100 50 0"} << true << whole.subtracted(QRect(10, 10, 100, 50));
    QTest::newRow("cut and repair") << QStringList {"cut 10 10 100 50 0", "repair 10 10 100 50 0"} << true << whole;
    QTest::newRow("negative x cuts from 0 with the whole width")
        << QStringList {"cut -20 10 100 50 0"} << true << whole.subtracted(QRect(0, 10, 100, 50));
    QTest::newRow("negative corner counts as 0")
        << QStringList {"cut 10 10 100 50 -8"} << true << whole.subtracted(QRect(10, 10, 100, 50));
    QTest::newRow("width 0 cuts nothing") << QStringList {"cut 10 10 0 50 0"} << true << whole;
    QTest::newRow("negative height cuts nothing") << QStringList {"cut 10 10 100 -5 0"} << true << whole;
    QTest::newRow("repair without a region changes nothing")
        << QStringList {"repair 10 10 100 50 0"} << false << QRegion();
    QTest::newRow("two cuts, one repaired")
        << QStringList {"cut 10 10 100 50 0", "cut 200 100 50 50 0", "repair 10 10 100 50 0"} << true
        << whole.subtracted(QRect(200, 100, 50, 50));
    QTest::newRow("a resize makes the window whole")
        << QStringList {"cut 10 10 100 50 0", "cut 200 100 50 50 0", "place 10 20 500 320"} << true
        << QRegion(0, 0, 500, 320);
    QTest::newRow("a move keeps the cuts") << QStringList {"cut 10 10 100 50 0", "place 60 70 400 300"} << true
                                           << whole.subtracted(QRect(10, 10, 100, 50));
}

void TestBrowserTracking::regions()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, hasRegion);
    QFETCH(QRegion, region);

    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    WindowControl *window = scene.window();
    for (const QString &step : qAsConst(steps)) {
        const QStringList words = step.split(QLatin1Char(' '));
        QVector<int> n;
        for (int i = 1; i < words.size(); ++i)
            n.append(words.at(i).toInt());
        if (words.first() == QLatin1String("cut"))
            window->cuttingPartWindow(n[0], n[1], n[2], n[3], n[4]);
        else if (words.first() == QLatin1String("repair"))
            window->repairPartWindow(n[0], n[1], n[2], n[3], n[4]);
        else
            window->setWindowGeometry(n[0], n[1], n[2], n[3], true);
    }
    QCOMPARE(bool(scene.desktop.windowRegion(window->selfHandle())), hasRegion);
    QCOMPARE(regionOf(scene), region);
}

void TestBrowserTracking::roundedCornersCutLess()
{
    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    scene.window()->cuttingPartWindow(10, 10, 100, 50, 20);
    const QRegion rounded = regionOf(scene);
    const QRegion square = QRegion(0, 0, 400, 300).subtracted(QRect(10, 10, 100, 50));
    QVERIFY(rounded.contains(QPoint(10, 10))); // the corner stays visible
    QVERIFY(!rounded.contains(QPoint(60, 35))); // the middle is cut
    QCOMPARE(rounded.united(square), rounded);
    QVERIFY(rounded != square);
}

// An embedded window over a browser dragged for two seconds: re-placed once, on the sixth still
// 100 ms tick after the drag, at its page rectangle shifted onto Chrome's page content.
void TestBrowserTracking::dragSettlesOnce()
{
    WindowScene scene;
    const WindowScene::Browser browser = scene.openBrowser();
    QCOMPARE(scene.createWindow({{"className", "Chrome"}}), 0);
    WindowControl *window = scene.window();
    for (int tick = 0; tick < 10; ++tick) // the first sight of the browser counts as a move
        scene.registry->trackTick();
    g_log.clear();

    NativeRect rect = WindowScene::kBrowserRect;
    for (int tick = 0; tick < 20; ++tick) {
        rect = {rect.left + 7, rect.top + 3, rect.right + 7, rect.bottom + 3};
        scene.desktop.moveWindow(browser.window, rect);
        scene.registry->trackTick();
    }
    window->setGeometry(0, 0, 10, 10); // where it ends must come from the settle step
    int stillTicks = 0;
    while (logCount("checkBrowserMove") == 0 && stillTicks < 20) {
        scene.registry->trackTick();
        ++stillTicks;
    }
    QCOMPARE(stillTicks, 6);
    QCOMPARE(window->geometry(), QRect(10, 20 + WindowScene::kToolbar, 400, 300));
    QCOMPARE(window->windowRect(), QRect(10, 20, 400, 300));
    for (int tick = 0; tick < 20; ++tick)
        scene.registry->trackTick();
    QCOMPARE(logCount("checkBrowserMove"), 1);
}

void TestBrowserTracking::topLevelZOrder()
{
    WindowScene scene;
    const WindowScene::Browser browser = scene.openBrowser();
    QCOMPARE(scene.createWindow({{"embed", false}, {"className", "Chrome"}}), 0);
    WindowControl *window = scene.window();
    const NativeHandle self = window->selfHandle();
    scene.registry->followTick();
    auto order = [&] { return scene.desktop.childrenInOrder(0); };
    auto firstNormal = [&] {
        for (NativeHandle handle : order()) {
            if (!scene.desktop.isTopmost(handle))
                return handle;
        }
        return NativeHandle(0);
    };

    // The browser in front: just below the taskbar, on every tick.
    for (int tick = 0; tick < 3; ++tick) {
        scene.desktop.bringToFront(browser.window);
        scene.registry->trackTick();
        QCOMPARE(firstNormal(), self);
        QVERIFY(!window->topMost());
    }

    // Another application takes the foreground: the window lies right above the browser, and the
    // application keeps the foreground.
    scene.desktop.bringToFront(browser.window);
    const NativeHandle other = scene.openOtherApplication();
    scene.registry->trackTick();
    QCOMPARE(scene.desktop.windowAbove(browser.window), self);
    QCOMPARE(scene.desktop.windowAbove(self), other);
    QCOMPARE(scene.desktop.foregroundWindow(), other);
    QVERIFY(logCount("Set Browser Prev") >= 1);

    // The browser goes full screen: into the topmost band once, and it stays there.
    scene.desktop.bringToFront(browser.window);
    goFullScreen(scene.desktop, browser, kPrimary);
    scene.registry->followTick();
    QVERIFY(window->browserFullScreen());
    QVERIFY(scene.desktop.isTopmost(self));
    const std::vector<NativeHandle> fullScreenOrder = order();
    for (int tick = 0; tick < 3; ++tick) {
        scene.registry->trackTick();
        scene.registry->followTick();
    }
    QVERIFY(scene.desktop.isTopmost(self));
    QVERIFY(order() == fullScreenOrder);

    // Back from full screen: the next placement takes it out of the band again.
    scene.desktop.moveWindow(browser.window, WindowScene::kBrowserRect);
    scene.registry->followTick();
    QVERIFY(!scene.desktop.isTopmost(self));
    QCOMPARE(firstNormal(), self);
}

// A desktop without a taskbar (an X11 session with no dock): the browser in front still has the
// window lying on top of it, at the top of the band, not behind it.
void TestBrowserTracking::topLevelZOrderWithoutTaskbar()
{
    WindowScene scene;
    scene.desktop.destroyWindow(scene.taskbars.primary);
    scene.desktop.destroyWindow(scene.taskbars.secondary);
    scene.desktop.destroyWindow(scene.taskbars.startButton);
    const WindowScene::Browser browser = scene.openBrowser();
    QCOMPARE(scene.createWindow({{"embed", false}, {"className", "Chrome"}}), 0);
    const NativeHandle self = scene.window()->selfHandle();
    scene.desktop.bringToFront(browser.window);
    scene.registry->trackTick();
    QCOMPARE(scene.desktop.windowAbove(browser.window), self);
}

void TestBrowserTracking::fullScreenTaskbars_data()
{
    QTest::addColumn<QString>("browserClass");
    QTest::addColumn<NativeRect>("rect");
    QTest::addColumn<bool>("contentAtTop");
    QTest::addColumn<bool>("primaryHidden");
    QTest::addColumn<bool>("secondaryHidden");

    QTest::newRow("as high as the primary monitor")
        << "Chrome" << NativeRect {100, 0, 1100, 1080} << true << true << false;
    QTest::newRow("as wide as the primary monitor")
        << "Chrome" << NativeRect {0, 100, 1920, 900} << true << true << false;
    QTest::newRow("secondary monitor") << "Chrome" << kSecondary << true << false << true;
    QTest::newRow("page content below the toolbar") << "Chrome" << kPrimary << false << false << false;
    QTest::newRow("not Chrome") << "Other" << kPrimary << true << false << false;
}

// Chrome in full screen hides its monitor's taskbar; leaving full screen and destroying the window show
// it again.
void TestBrowserTracking::fullScreenTaskbars()
{
    QFETCH(QString, browserClass);
    QFETCH(NativeRect, rect);
    QFETCH(bool, contentAtTop);
    QFETCH(bool, primaryHidden);
    QFETCH(bool, secondaryHidden);

    WindowScene scene;
    const WindowScene::Browser browser = scene.openBrowser(browserClass);
    QCOMPARE(scene.createWindow({{"className", browserClass}}), 0);
    const MemoryDesktop::Taskbars bars = scene.taskbars;
    auto place = [&] {
        scene.registry->setWndGeometry(
            WindowScene::request("setWndGeometry", {{"rect", WindowScene::rect(10, 20, 400, 300)}}));
    };

    if (contentAtTop)
        goFullScreen(scene.desktop, browser, rect);
    else
        scene.desktop.moveWindow(browser.window, rect);
    place();
    QCOMPARE(scene.desktop.isVisible(bars.primary), !primaryHidden);
    QCOMPARE(scene.desktop.isVisible(bars.startButton), !primaryHidden);
    QCOMPARE(scene.desktop.isVisible(bars.secondary), !secondaryHidden);

    // Leaving full screen.
    scene.desktop.moveWindow(browser.window, rect.left >= kSecondary.left ? NativeRect {2000, 50, 3000, 850}
                                                                            : WindowScene::kBrowserRect);
    place();
    QVERIFY(scene.desktop.isVisible(bars.primary));
    QVERIFY(scene.desktop.isVisible(bars.startButton));
    QVERIFY(scene.desktop.isVisible(bars.secondary));

    // Destroying the window while its browser is in full screen.
    goFullScreen(scene.desktop, browser, rect);
    place();
    scene.registry->destroyWnd(WindowScene::request("destroyWnd"));
    WindowScene::deletePending();
    QVERIFY(scene.desktop.isVisible(bars.primary));
    QVERIFY(scene.desktop.isVisible(bars.startButton));
    QVERIFY(scene.desktop.isVisible(bars.secondary));
}

// The browser window goes away under an embedded window: detached and hidden; the new browser window
// in front takes it in again with "updateParentWnd".
void TestBrowserTracking::parentDestroyed()
{
    WindowScene scene;
    const WindowScene::Browser first = scene.openBrowser();
    QCOMPARE(scene.createWindow({{"className", "Chrome"}}), 0);
    WindowControl *window = scene.window();
    const NativeHandle self = window->selfHandle();

    QVERIFY(scene.desktop.destroyWindow(first.window));
    QCOMPARE(scene.window(), window);
    QVERIFY(scene.desktop.isWindow(self));
    QCOMPARE(scene.desktop.parent(self), NativeHandle(0));
    QVERIFY(!window->isVisible());
    QVERIFY(window->hiddenByParent());
    scene.registry->trackTick(); // a parent that is gone costs nothing but empty rectangles
    scene.registry->followTick();

    const WindowScene::Browser second = scene.openBrowser();
    const QJsonObject answer
        = WindowScene::parse(scene.registry->updateParentWnd(WindowScene::request("updateParentWnd")));
    QCOMPARE(answer.value("errorCode").toInt(), 0);
    QCOMPARE(window->parentHandle(), second.window);
    QCOMPARE(scene.desktop.parent(self), second.window);
    QVERIFY(window->isVisible());
    QVERIFY(!window->hiddenByParent());
    QVERIFY(window->parentChanged());
    QVERIFY(scene.desktop.hasClipSiblings(second.compositor));

    // The same browser in front again changes nothing.
    scene.registry->updateParentWnd(WindowScene::request("updateParentWnd"));
    QVERIFY(!window->parentChanged());

    // And a second loss of the parent is heard too.
    QVERIFY(scene.desktop.destroyWindow(second.window));
    QVERIFY(scene.desktop.isWindow(self));
    QVERIFY(window->hiddenByParent());
}

// A following window over a still browser costs one rectangle query per 15 ms tick; no window, nothing.
void TestBrowserTracking::stillBrowserCost()
{
    WindowScene scene;
    int before = scene.desktop.interfaceCallCount();
    scene.registry->followTick();
    scene.registry->trackTick();
    QCOMPARE(scene.desktop.interfaceCallCount(), before);

    scene.openBrowser();
    QCOMPARE(scene.createWindow({{"embed", false}}), 0);
    scene.registry->followTick(); // the browser's first sight re-places once
    before = scene.desktop.interfaceCallCount();
    for (int tick = 0; tick < 10; ++tick)
        scene.registry->followTick();
    QCOMPARE(scene.desktop.interfaceCallCount() - before, 10);
}

// The registry's own timers, short here: a top-level window follows a moved browser, and an embedded
// window settles once after its browser was first seen.
void TestBrowserTracking::timersDriveTheTicks()
{
    MemoryDesktop desktop;
    {
        WindowControlManager registry(desktop, 5, 10);
        const NativeHandle browser = desktop.createWindow({WindowScene::kUuid.toStdU16String(), u"Other",
            WindowScene::kBrowserRect, {}, 0, true, false});
        const QJsonObject create = WindowScene::request(
            "createWnd", {{"embed", false}, {"rect", WindowScene::rect(10, 20, 400, 300)}});
        QCOMPARE(WindowScene::parse(registry.createWnd(create)).value("errorCode").toInt(), 0);
        WindowControl *window = registry.window(WindowScene::kUuid);
        desktop.moveWindow(browser, {500, 400, 1500, 1200});
        QTRY_COMPARE(window->geometry().topLeft(), QPoint(510, 420));

        const QString other = QStringLiteral("{11111111-2222-3333-4444-555555555555}");
        desktop.createWindow({other.toStdU16String(), u"Other", WindowScene::kBrowserRect, {}, 0, true, false});
        const QJsonObject embedded
            = WindowScene::request("createWnd", {{"rect", WindowScene::rect(10, 20, 400, 300)}}, other);
        QCOMPARE(WindowScene::parse(registry.createWnd(embedded)).value("errorCode").toInt(), 0);
        QTRY_COMPARE(logCount("checkBrowserMove"), 1); // the first sight of the browser counts as its move
    }
    WindowScene::deletePending();
}

QTEST_MAIN(TestBrowserTracking)
#include "tst_browsertracking.moc"
