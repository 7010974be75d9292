#include "platform/DesktopBackend.h"
#include "platform/memory/MemoryDesktop.h"
#include "tests/platform/DesktopScenarios.h"
#include "tests/platform/MemoryDesktopScript.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

#include <unistd.h>

// QCOMPARE prints these on a mismatch.
char *toString(const NativeRect &rect)
{
    return qstrdup(Expect::describe(rect).c_str());
}

char *toString(const NativePoint &point)
{
    return qstrdup(Expect::describe(point).c_str());
}

class tst_MemoryDesktop : public QObject
{
    Q_OBJECT

private slots:
    void scenarios_data();
    void scenarios();
    void frameAndClientArea();
    void qtWindowTakesPart();
    void closedQtWindowLeavesTheDesktop();
    void processRights();
    void backendChoice_data();
    void backendChoice();
    void processDesktop();
};

void tst_MemoryDesktop::scenarios_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < desktopScenarios().size(); ++i)
        QTest::newRow(desktopScenarios()[i].name) << int(i);
}

void tst_MemoryDesktop::scenarios()
{
    QFETCH(int, index);
    MemoryDesktopScript script;
    Expect expect;
    desktopScenarios()[std::size_t(index)].run(script, expect);
    QStringList failures;
    for (const std::string &failure : expect.failures)
        failures << QString::fromStdString(failure);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
}

void tst_MemoryDesktop::frameAndClientArea()
{
    MemoryDesktop desktop;
    const NativeHandle browser = desktop.createWindow({u"Browser", u"B", {100, 50, 900, 650}, {8, 30, 8, 8}});
    const NativeHandle content = desktop.createWindow({u"", u"C", {0, 60, 784, 612}, {}, browser});
    QCOMPARE(desktop.clientRect(browser), (NativeRect {0, 0, 784, 562}));
    QCOMPARE(desktop.clientOrigin(browser), (NativePoint {108, 80}));
    QCOMPARE(desktop.windowRect(content), (NativeRect {108, 140, 892, 692}));
    desktop.moveWindow(browser, {0, 0, 800, 600});
    QCOMPARE(desktop.windowRect(content), (NativeRect {8, 90, 792, 642}));
}

void tst_MemoryDesktop::qtWindowTakesPart()
{
    MemoryDesktop desktop;
    const NativeHandle browser
        = desktop.createWindow({u"Browser", u"Chrome_WidgetWin_1", {100, 50, 900, 650}});
    QWidget widget;
    widget.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    widget.setWindowTitle("WindowControl");
    widget.setGeometry(10, 20, 300, 200);
    const NativeHandle self = NativeHandle(widget.winId());

    QVERIFY(desktop.isWindow(self));
    QCOMPARE(desktop.className(self), MemoryDesktop::kQtWindowClass);
    QVERIFY(desktop.isOwnWindow(self));
    QVERIFY(!desktop.isOwnWindow(browser));
    QVERIFY(!desktop.isOwnWindow(0));
    QCOMPARE(desktop.windowTitle(self), std::u16string(u"WindowControl"));
    QVERIFY(!desktop.isVisible(self));
    widget.show();
    QVERIFY(desktop.isVisible(self));
    const std::vector<NativeHandle> topLevel = desktop.topLevelWindows();
    QVERIFY(std::find(topLevel.begin(), topLevel.end(), self) != topLevel.end());

    // Embedded: the widget's geometry is read in the browser's client area.
    QVERIFY(desktop.setParent(self, browser));
    QCOMPARE(desktop.firstChild(browser), self);
    QCOMPARE(desktop.windowRect(self), (NativeRect {110, 70, 410, 270}));
    widget.setGeometry(40, 30, 300, 200);
    QCOMPARE(desktop.windowRect(self), (NativeRect {140, 80, 440, 280}));

    // Regions and z-order are the desktop's; showing and placing act on the Qt window.
    desktop.setWindowRegion(self, desktop.rectRegion({0, 0, 10, 10}), true);
    QCOMPARE(MemoryDesktop::toQRegion(*desktop.windowRegion(self)), QRegion(0, 0, 10, 10));
    QCOMPARE(desktop.regionRedrawCount(self), 1);
    desktop.showWindow(self, false);
    QVERIFY(!widget.isVisible());
    desktop.placeWindow(self, ZOrderPlacement::intoTopmostBand().shown().withGeometry({0, 0, 50, 40}));
    QVERIFY(widget.isVisible());
    QCOMPARE(desktop.windowRect(self), (NativeRect {100, 50, 150, 90})); // still in the browser
    // Qt hears of a native move later, as it does on Windows.
    QTRY_COMPARE(widget.geometry(), QRect(0, 0, 50, 40));

    // The browser goes: the owner hears of it through its native id, detaches and hides its window.
    int told = 0;
    desktop.watchDestroy(self, [&](NativeHandle window) {
        ++told;
        desktop.setParent(window, 0);
        widget.hide();
    });
    QVERIFY(desktop.destroyWindow(browser));
    QCOMPARE(told, 1);
    QVERIFY(desktop.isWindow(self));
    QCOMPARE(desktop.parent(self), NativeHandle(0));
    QVERIFY(!desktop.isVisible(self));
}

void tst_MemoryDesktop::closedQtWindowLeavesTheDesktop()
{
    MemoryDesktop desktop;
    const NativeHandle browser = desktop.createWindow({u"Browser", u"B", {0, 0, 800, 600}});
    NativeHandle self = 0;
    {
        QWidget widget;
        self = NativeHandle(widget.winId());
        desktop.setParent(self, browser);
        desktop.setForegroundWindow(self);
        QCOMPARE(desktop.foregroundWindow(), browser);
        desktop.bringToFront(self);
    }
    QVERIFY(!desktop.isWindow(self));
    QCOMPARE(desktop.firstChild(browser), NativeHandle(0));
    QVERIFY(desktop.isWindow(browser));
}

void tst_MemoryDesktop::processRights()
{
    MemoryDesktop desktop;
    QCOMPARE(desktop.isUserAdministrator(), ::geteuid() == 0);
    QCOMPARE(desktop.relaunchElevated(), ElevationOutcome::Unsupported);
    desktop.setUserAdministrator(false);
    desktop.setRelaunchOutcome(ElevationOutcome::Cancelled);
    QVERIFY(!desktop.isUserAdministrator());
    QCOMPARE(desktop.relaunchElevated(), ElevationOutcome::Cancelled);
    QCOMPARE(desktop.relaunchCount(), 2);
}

void tst_MemoryDesktop::backendChoice_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<int>("expected");
    const int win32 = int(DesktopBackendKind::Win32);
    const int x11 = int(DesktopBackendKind::X11);
    const int memory = int(DesktopBackendKind::Memory);
    QTest::newRow("windows") << "windows" << win32;
    QTest::newRow("xcb") << "xcb" << x11;
    QTest::newRow("offscreen") << "offscreen" << memory;
    QTest::newRow("minimal") << "minimal" << memory;
    QTest::newRow("wayland") << "wayland" << memory;
    QTest::newRow("no GUI application") << "" << memory;
    QTest::newRow("exact name only") << "Windows" << memory;
}

void tst_MemoryDesktop::backendChoice()
{
    QFETCH(QString, platform);
    QFETCH(int, expected);
    QCOMPARE(int(desktopBackendFor(platform.toStdString())), expected);
}

void tst_MemoryDesktop::processDesktop()
{
    // The test runs on the offscreen platform: the in-memory desktop serves, with a taskbar to keep
    // plug-in windows below.
    QVERIFY(dynamic_cast<MemoryDesktop *>(&currentDesktop()));
    QVERIFY(currentDesktop().primaryTaskbar() != 0);
    auto scripted = std::make_unique<MemoryDesktop>();
    MemoryDesktop *installed = scripted.get();
    const std::unique_ptr<NativeDesktop> previous = installDesktop(std::move(scripted));
    QVERIFY(previous);
    QCOMPARE(&currentDesktop(), static_cast<NativeDesktop *>(installed));
}

QTEST_MAIN(tst_MemoryDesktop)
#include "tst_MemoryDesktop.moc"
