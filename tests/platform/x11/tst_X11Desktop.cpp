// The X11 backend on a real X display: Xvfb with openbox, started by this test before the Qt
// application (which then runs on "xcb"). Skipped when neither can be started.
#include "platform/DesktopBackend.h"
#include "platform/x11/X11Desktop.h"
#include "tests/platform/DesktopScenarios.h"
#include "tests/platform/x11/X11DesktopScript.h"
#include "tests/platform/x11/X11TestClient.h"
#include "tests/platform/x11/X11TestDisplay.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;
constexpr std::uint32_t kPageColour = 0xc03020; // the browser window's background: "the page"
constexpr std::uint32_t kPluginColour = 0x2040d0; // this process's window

std::string g_displayFailure;

QStringList g_xErrors; // what Qt's connection logged as X errors
QtMessageHandler g_previousHandler = nullptr;

void recordXErrors(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains("XCB error") || message.contains("BadWindow") || message.contains("BadDrawable"))
        g_xErrors << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// This process's plug-in window: frameless, not taking focus, painted in one colour.
std::unique_ptr<QWidget> makePluginWidget()
{
    auto widget = std::make_unique<QWidget>();
    widget->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    widget->setWindowTitle("WindowControl");
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(QRgb(kPluginColour)));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->setGeometry(0, 0, 200, 150);
    return widget;
}

// Where X11 cannot do what the scenarios expect of a Windows-like desktop: the failure texts that are
// expected here, and why. Every other failure fails the test.
struct X11Difference
{
    const char *scenario;
    const char *failure;
    const char *reason;
};
const X11Difference kX11Differences[] = {
    {"destroy reaches embedded child", "the detached window survives",
        "X destroys a child with its parent; only this process's Qt windows are recreated (destroyObserver)"},
    {"full-screen placement", "moved and resized: got (0,0,1,1), expected (0,0,0,0)",
        "X windows are at least 1 x 1 pixels"},
};

bool expectedOnX11(const std::string &scenario, const std::string &failure)
{
    return std::any_of(std::begin(kX11Differences), std::end(kX11Differences),
        [&](const X11Difference &difference) {
            return scenario == difference.scenario && failure == difference.failure;
        });
}

} // namespace

// QCOMPARE prints these on a mismatch.
char *toString(const NativeRect &rect)
{
    return qstrdup(Expect::describe(rect).c_str());
}

char *toString(const NativePoint &point)
{
    return qstrdup(Expect::describe(point).c_str());
}

class tst_X11Desktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void scenarios_data();
    void scenarios();
    void backendChosenForXcb();
    void titleAndClassFromTheWindowManagersProperties();
    void docksAreTheTaskbars();
    void regionSeenOnTheServerAndOnScreen();
    void embeddedQtWindowGeometry();
    void managedWindowEmbeddedStaysInItsParent();
    void topLevelQtWindowBetweenBrowserAndOtherApplication();
    void destroyNewsThroughQtsNativeEvents();
    void destroyObserverWhenTheBrowserGoes_data();
    void destroyObserverWhenTheBrowserGoes();

private:
    // Shows the widget's window in `browser` at `rect` (browser client coordinates).
    NativeHandle embed(QWidget &widget, NativeHandle browser, const NativeRect &rect);

    std::unique_ptr<X11Desktop> m_desktop;
    std::unique_ptr<X11TestClient> m_client;
};

void tst_X11Desktop::initTestCase()
{
    if (QGuiApplication::platformName() != "xcb")
        QSKIP(qPrintable("no X display: " + QString::fromStdString(g_displayFailure)));
    m_desktop = std::make_unique<X11Desktop>();
    m_client = std::make_unique<X11TestClient>();
    QVERIFY(m_desktop->isConnected());
    QVERIFY(m_client->isConnected());
    g_previousHandler = qInstallMessageHandler(recordXErrors);
}

void tst_X11Desktop::cleanupTestCase()
{
    qInstallMessageHandler(nullptr);
    m_client.reset();
    m_desktop.reset();
}

void tst_X11Desktop::init()
{
    g_xErrors.clear();
}

void tst_X11Desktop::scenarios_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < desktopScenarios().size(); ++i) {
        if (!desktopScenarios()[i].memoryOnly)
            QTest::newRow(desktopScenarios()[i].name) << int(i);
    }
}

void tst_X11Desktop::scenarios()
{
    QFETCH(int, index);
    Expect expect;
    {
        X11DesktopScript script(*m_desktop, *m_client);
        desktopScenarios()[std::size_t(index)].run(script, expect);
    }
    QStringList failures;
    for (const std::string &failure : expect.failures) {
        if (!expectedOnX11(desktopScenarios()[std::size_t(index)].name, failure))
            failures << QString::fromStdString(failure);
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
}

void tst_X11Desktop::backendChosenForXcb()
{
    QVERIFY(dynamic_cast<X11Desktop *>(createDesktop(desktopBackendFor("xcb")).get()));
}

NativeHandle tst_X11Desktop::embed(QWidget &widget, NativeHandle browser, const NativeRect &rect)
{
    const NativeHandle self = NativeHandle(widget.winId());
    if (!m_desktop->setParent(self, browser)
        || !m_desktop->placeWindow(self, ZOrderPlacement::intoTopmostBand().shown().withGeometry(rect)))
        return 0;
    m_client->settle();
    return self;
}

void tst_X11Desktop::titleAndClassFromTheWindowManagersProperties()
{
    const std::u16string session = u"{0b5f8c2e-1d3a-4c6b-9e7f-a1b2c3d4e5f6}";
    const std::u16string title = u"Kameras \u00fcber " + session + u" - Chromium \u2013 Profil";
    const std::uint32_t browser = m_client->create({title, u"Chromium", {10, 10, 300, 200}});
    m_client->setProperty(browser, "WM_CLASS", "STRING", std::string("chromium (/tmp/ls-profile)\0Chromium\0", 37));
    const std::uint32_t plain = m_client->create({u"", u"LsPlain", {10, 10, 300, 200}});
    m_client->deleteProperty(plain, "_NET_WM_NAME");
    m_client->setProperty(plain, "WM_NAME", "STRING", std::string("Caf\xe9 only WM_NAME"));
    m_client->settle();

    QCOMPARE(m_desktop->windowTitle(browser), title); // _NET_WM_NAME, UTF-8
    QCOMPARE(m_desktop->className(browser), std::u16string(u"Chromium")); // WM_CLASS's class part
    QCOMPARE(m_desktop->windowTitle(plain), std::u16string(u"Caf\u00e9 only WM_NAME")); // Latin-1
    const std::vector<NativeHandle> windows = m_desktop->topLevelWindows();
    const auto found = std::find_if(windows.begin(), windows.end(),
        [&](NativeHandle window) { return m_desktop->windowTitle(window).find(session) != std::u16string::npos; });
    QVERIFY(found != windows.end());
    QCOMPARE(*found, NativeHandle(browser));
    QCOMPARE(m_desktop->parent(browser), NativeHandle(0)); // a managed client is top-level, not its frame's child
    m_client->destroy(plain);
    m_client->destroy(browser);
}

void tst_X11Desktop::docksAreTheTaskbars()
{
    QCOMPARE(m_desktop->primaryTaskbar(), NativeHandle(0));
    const NativeRect screen = m_client->screen();
    const std::uint32_t dock
        = m_client->create({u"panel", u"LsPanel", {0, screen.bottom - 30, screen.right, screen.bottom}, 0, false});
    m_client->setProperty(dock, "_NET_WM_WINDOW_TYPE", "ATOM",
        std::vector<std::uint32_t> {m_client->atom("_NET_WM_WINDOW_TYPE_DOCK")});
    m_client->map(dock);

    QCOMPARE(m_desktop->primaryTaskbar(), NativeHandle(dock));
    QCOMPARE(m_desktop->secondaryTaskbar(), NativeHandle(0)); // one monitor
    QCOMPARE(m_desktop->startButton(), NativeHandle(0)); // no start button
    QCOMPARE(m_desktop->monitorNearestWindow(dock), std::optional<NativeMonitor>({screen, true}));
    m_client->destroy(dock);
}

void tst_X11Desktop::regionSeenOnTheServerAndOnScreen()
{
    const std::uint32_t browser = m_client->create({u"Page - Chromium", u"Chromium", {100, 100, 700, 500}}, kPageColour);
    const std::unique_ptr<QWidget> widget = makePluginWidget();
    const NativeHandle self = embed(*widget, browser, {50, 40, 350, 240});
    QVERIFY(self);
    const NativePoint origin = m_desktop->clientOrigin(self);
    QCOMPARE(origin, (NativePoint {150, 140}));
    QTRY_COMPARE(m_client->pixel(origin.x + 150, origin.y + 100), kPluginColour);

    // A hole in the middle shows the page; the rest stays the plug-in window's.
    const NativeRegion cut = m_desktop->regionDifference(
        m_desktop->rectRegion({0, 0, 300, 200}), m_desktop->roundRectRegion({100, 50, 200, 150}, 0, 0));
    QVERIFY(m_desktop->setWindowRegion(self, cut, true));
    m_client->settle();
    const std::vector<NativeRect> expected {{0, 0, 300, 50}, {0, 50, 100, 150}, {200, 50, 300, 150}, {0, 150, 300, 200}};
    QVERIFY(sameArea(m_client->shapeRectangles(std::uint32_t(self)), expected));
    QVERIFY(sameArea(X11Desktop::regionRectangles(m_desktop->windowRegion(self).value_or(NativeRegion())), expected));
    QTRY_COMPARE(m_client->pixel(origin.x + 150, origin.y + 100), kPageColour);
    QCOMPARE(m_client->pixel(origin.x + 20, origin.y + 100), kPluginColour);

    // Repaired: the whole window again.
    QVERIFY(m_desktop->setWindowRegion(self, m_desktop->regionUnion(cut, m_desktop->rectRegion({100, 50, 200, 150})), true));
    m_client->settle();
    QVERIFY(sameArea(m_client->shapeRectangles(std::uint32_t(self)), {{0, 0, 300, 200}}));
    QTRY_COMPARE(m_client->pixel(origin.x + 150, origin.y + 100), kPluginColour);

    // Nothing visible: an empty shape, which is still a region.
    QVERIFY(m_desktop->setWindowRegion(self, m_desktop->rectRegion({0, 0, 0, 0}), true));
    QVERIFY(m_desktop->windowRegion(self).has_value());
    QVERIFY(X11Desktop::regionRectangles(*m_desktop->windowRegion(self)).empty());
    QTRY_COMPARE(m_client->pixel(origin.x + 20, origin.y + 20), kPageColour);

    m_desktop->setParent(self, 0);
    m_client->destroy(browser);
    QVERIFY2(g_xErrors.isEmpty(), qPrintable(g_xErrors.join("\n")));
}

void tst_X11Desktop::embeddedQtWindowGeometry()
{
    const std::uint32_t browser = m_client->create({u"Page - Chromium", u"Chromium", {200, 150, 800, 600}}, kPageColour);
    const std::unique_ptr<QWidget> widget = makePluginWidget();
    const NativeHandle self = embed(*widget, browser, {30, 20, 330, 220});
    QVERIFY(self);

    QCOMPARE(m_desktop->parent(self), NativeHandle(browser));
    QCOMPARE(m_desktop->outermostAncestor(self), NativeHandle(browser));
    QCOMPARE(m_desktop->firstChild(browser), self);
    // Its class is the application's, yet it is this process's window; the browser's is not.
    QVERIFY(m_desktop->isOwnWindow(self));
    QVERIFY(!m_desktop->isOwnWindow(browser));
    QVERIFY(!m_desktop->isOwnWindow(0));
    // Whatever class this process's windows have, the embedded one is never the page content; a child
    // of the browser's own is, and there is no compositor child.
    QCOMPARE(m_desktop->pageContentChild(browser), NativeHandle(0));
    const std::uint32_t content = m_client->create({u"", u"LsContent", {0, 0, 50, 50}, browser});
    m_client->settle();
    QCOMPARE(m_desktop->pageContentChild(browser), NativeHandle(content));
    QCOMPARE(m_desktop->compositorChild(browser), NativeHandle(0));
    m_client->destroy(content);
    m_client->settle();
    QVERIFY(m_desktop->isVisible(self));
    QCOMPARE(m_desktop->windowRect(self), (NativeRect {230, 170, 530, 370}));
    // Qt knows the window is a child now, at its place in the browser.
    QVERIFY(widget->windowHandle()->parent() != nullptr);
    QTRY_COMPARE(widget->geometry(), QRect(30, 20, 300, 200));
    QTRY_COMPARE(m_client->pixel(231, 171), kPluginColour);
    QCOMPARE(m_client->pixel(229, 169), kPageColour);

    // It moves with the browser without being told.
    m_client->move(browser, 100, 50);
    QCOMPARE(m_desktop->windowRect(browser), (NativeRect {100, 50, 700, 500}));
    QCOMPARE(m_desktop->windowRect(self), (NativeRect {130, 70, 430, 270}));
    QTRY_COMPARE(m_client->pixel(131, 71), kPluginColour);

    // Detached, it is top-level again, for Qt as well.
    QVERIFY(m_desktop->setParent(self, 0));
    m_client->settle();
    QCOMPARE(m_desktop->parent(self), NativeHandle(0));
    QVERIFY(widget->windowHandle()->parent() == nullptr);
    QVERIFY(m_desktop->showWindow(self, false));
    QVERIFY(!m_desktop->isVisible(self));
    m_client->destroy(browser);
    QVERIFY2(g_xErrors.isEmpty(), qPrintable(g_xErrors.join("\n")));
}

// The way back from full screen: a window the window manager manages (shown top-level) is embedded
// and placed at once. The manager's release of it must not undo that afterwards (unmap it, move it to
// where the manager had it, or put it back on the root). A race, so several rounds.
void tst_X11Desktop::managedWindowEmbeddedStaysInItsParent()
{
    const std::uint32_t browser = m_client->create({u"Page - Chromium", u"Chromium", {200, 150, 800, 600}}, kPageColour);
    const std::unique_ptr<QWidget> widget = makePluginWidget();
    const NativeHandle self = NativeHandle(widget->winId());
    for (int round = 0; round < 8; ++round) {
        QVERIFY(m_desktop->setParent(self, 0));
        QVERIFY(m_desktop->placeWindow(self, ZOrderPlacement::intoTopmostBand().shown().withGeometry({0, 0, 0, 0})));
        QTRY_VERIFY_WITH_TIMEOUT(m_client->isManaged(std::uint32_t(self)), 10000);
        m_client->settle(); // full screen lasts a while

        QVERIFY(m_desktop->setParent(self, browser));
        widget->setGeometry(30, 20, 300, 200);
        m_client->settle();
        const QByteArray where = QByteArray("round ") + QByteArray::number(round);
        QVERIFY2(!m_client->isManaged(std::uint32_t(self)), where);
        QTRY_VERIFY2_WITH_TIMEOUT(m_client->pixel(200 + 30 + 150, 150 + 20 + 100) == kPluginColour, where, 10000);
        QCOMPARE(m_desktop->parent(self), NativeHandle(browser));
        QVERIFY2(m_client->isViewable(std::uint32_t(self)), where);
        QCOMPARE(m_desktop->windowRect(self), (NativeRect {230, 170, 530, 370}));
        QCOMPARE(m_client->pixel(229, 169), kPageColour);
    }
    m_desktop->setParent(self, 0);
    m_client->destroy(browser);
    QVERIFY2(g_xErrors.isEmpty(), qPrintable(g_xErrors.join("\n")));
}

// Top-level mode: the plug-in window over the browser, another application over both.
void tst_X11Desktop::topLevelQtWindowBetweenBrowserAndOtherApplication()
{
    const std::uint32_t browser = m_client->create({u"Page - Chromium", u"Chromium", {100, 100, 700, 500}}, kPageColour);
    const std::uint32_t other = m_client->create({u"Editor", u"LsOther", {400, 300, 900, 700}}, 0x30a040);
    const std::unique_ptr<QWidget> widget = makePluginWidget();
    const NativeHandle self = NativeHandle(widget->winId());
    SettlingDesktop desktop(*m_desktop, *m_client);
    QVERIFY(desktop.setForegroundWindow(other));
    QCOMPARE(desktop.foregroundWindow(), NativeHandle(other));

    // Placed right below the window above the browser, without activation.
    QCOMPARE(desktop.windowAbove(browser), NativeHandle(other));
    QVERIFY(desktop.placeWindow(self, ZOrderPlacement::directlyAfter(other).shown().withGeometry({150, 150, 550, 450})));
    // The window manager carries it out a moment later; on a loaded machine it may still raise the new
    // window after that, and then the window code places it again on its next tick, as here.
    const auto stackedBetween = [&] {
        const std::vector<NativeHandle> order = m_desktop->topLevelWindows();
        const auto at = [&order](NativeHandle window) { return std::find(order.begin(), order.end(), window); };
        if (at(other) < at(self) && at(self) < at(browser))
            return true;
        const NativeHandle above = m_desktop->windowAbove(browser);
        if (above != self)
            m_desktop->placeWindow(self, ZOrderPlacement::directlyAfter(above));
        return false;
    };
    QTRY_VERIFY(stackedBetween());
    QCOMPARE(desktop.windowAbove(browser), self);
    QCOMPARE(desktop.foregroundWindow(), NativeHandle(other));
    QCOMPARE(desktop.windowRect(self), (NativeRect {150, 150, 550, 450}));
    QTRY_COMPARE(m_client->pixel(200, 200), kPluginColour); // over the browser
    QCOMPARE(m_client->pixel(500, 400), 0x30a040u); // under the other application

    // The browser comes to the front: the plug-in window is placed on top again, shown over it.
    QVERIFY(desktop.setForegroundWindow(browser));
    QVERIFY(desktop.placeWindow(self, ZOrderPlacement::intoTopmostBand()));
    QVERIFY(m_desktop->isAbove(self));
    QVERIFY(desktop.placeWindow(self, ZOrderPlacement::outOfTopmostBand()));
    QVERIFY(!m_desktop->isAbove(self));
    QTRY_COMPARE(m_client->pixel(500, 400), kPluginColour);
    QCOMPARE(desktop.foregroundWindow(), NativeHandle(browser));

    widget->hide();
    m_client->destroy(other);
    m_client->destroy(browser);
}

// The owner's nativeEvent passes Qt's native events on: a DestroyNotify of a watched window tells its
// observer once, and counts as handled.
void tst_X11Desktop::destroyNewsThroughQtsNativeEvents()
{
    const std::uint32_t window = m_client->create({u"W", u"LsNative", {0, 0, 50, 50}});
    int told = 0;
    m_desktop->watchDestroy(window, [&told](NativeHandle) { ++told; });
    xcb_destroy_notify_event_t other {};
    other.response_type = XCB_DESTROY_NOTIFY;
    other.event = other.window = window + 1;
    QVERIFY(!m_desktop->handleNativeMessage("xcb_generic_event_t", &other));
    xcb_destroy_notify_event_t destroyed = other;
    destroyed.event = destroyed.window = window;
    QVERIFY(!m_desktop->handleNativeMessage("windows_generic_MSG", &destroyed));
    QCOMPARE(told, 0);
    QVERIFY(m_desktop->handleNativeMessage("xcb_generic_event_t", &destroyed));
    QCOMPARE(told, 1);
    QVERIFY(!m_desktop->handleNativeMessage("xcb_generic_event_t", &destroyed));
    m_client->destroy(window);
    QCOMPARE(told, 1);
}

void tst_X11Desktop::destroyObserverWhenTheBrowserGoes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("keepsNativeWindow");
    // Destroyed: the embedded window dies with it and gets a new native window on detaching.
    QTest::newRow("browser window destroyed") << "destroy" << false;
    QTest::newRow("browser process ends") << "end" << false;
    // Withdrawn first, as a browser closing a window may do: detached in time, still the same window.
    QTest::newRow("browser window withdrawn, then destroyed") << "withdraw" << true;
}

void tst_X11Desktop::destroyObserverWhenTheBrowserGoes()
{
    QFETCH(QString, how);
    QFETCH(bool, keepsNativeWindow);
    auto browserProcess = std::make_unique<X11TestClient>();
    const std::uint32_t browser
        = browserProcess->create({u"Page - Chromium", u"Chromium", {100, 100, 700, 500}}, kPageColour);
    const std::unique_ptr<QWidget> widget = makePluginWidget();
    const NativeHandle self = embed(*widget, browser, {20, 20, 220, 170});
    QVERIFY(self);
    QTRY_COMPARE(m_client->pixel(130, 130), kPluginColour);

    // The owner of the window keeps it: detached from the dying browser and hidden.
    std::vector<NativeHandle> told;
    m_desktop->watchDestroy(self, [&](NativeHandle window) {
        told.push_back(window);
        m_desktop->setParent(window, 0);
        m_desktop->showWindow(window, false);
    });
    if (how == "destroy") {
        browserProcess->destroy(browser);
    } else if (how == "end") {
        browserProcess->disconnect();
    } else {
        browserProcess->unmap(browser);
        m_client->settle();
        QCOMPARE(told, std::vector<NativeHandle> {self});
        browserProcess->destroy(browser);
    }
    m_client->settle();
    QTest::qWait(100); // Qt would paint into a dead window now
    QCOMPARE(told, std::vector<NativeHandle> {self});
    QVERIFY(m_desktop->isWindow(self)); // the old handle names the window still
    QCOMPARE(m_desktop->parent(self), NativeHandle(0));
    QVERIFY(!m_desktop->isVisible(self));
    QVERIFY(!widget->isVisible());
    QCOMPARE(NativeHandle(widget->winId()) == self, keepsNativeWindow);
    QVERIFY2(g_xErrors.isEmpty(), qPrintable(g_xErrors.join("\n")));

    // A new browser window brings it back, through the handle the owner has.
    const std::uint32_t newBrowser
        = m_client->create({u"Page - Chromium", u"Chromium", {300, 200, 900, 600}}, kPageColour);
    QVERIFY(m_desktop->setParent(self, newBrowser));
    QVERIFY(m_desktop->placeWindow(self, ZOrderPlacement::intoTopmostBand().shown().withGeometry({20, 20, 220, 170})));
    m_client->settle();
    QCOMPARE(m_desktop->parent(self), NativeHandle(newBrowser));
    QCOMPARE(m_desktop->firstChild(newBrowser), NativeHandle(widget->winId()));
    QVERIFY(m_desktop->isVisible(self));
    QTRY_COMPARE(m_client->pixel(330, 230), kPluginColour);
    m_desktop->setParent(self, 0);
    m_client->destroy(newBrowser);
    QVERIFY2(g_xErrors.isEmpty(), qPrintable(g_xErrors.join("\n")));
}

int main(int argc, char **argv)
{
    X11TestDisplay display(kScreenWidth, kScreenHeight);
    if (display.isRunning()) {
        ::setenv("DISPLAY", display.name().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        g_displayFailure = display.failure();
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    tst_X11Desktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_X11Desktop.moc"

