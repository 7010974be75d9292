#include "tests/window/WindowScene.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"

#include <QJsonArray>
#include <QtTest>

namespace {

QStringList g_log;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log.append(message);
}

// The browser window's client area and page-content child, on screen.
constexpr int kClientLeft = WindowScene::kBrowserRect.left + WindowScene::kBorder;
constexpr int kClientTop = WindowScene::kBrowserRect.top + WindowScene::kTitleBar;
constexpr int kContentTop = kClientTop + WindowScene::kToolbar;

} // namespace

class TestWindowControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void createWnd_data();
    void createWnd();
    void componentMissing();
    void placement_data();
    void placement();
    void ownWindowIsNotThePageContent_data();
    void ownWindowIsNotThePageContent();
    void covers_data();
    void covers();
    void coversSurviveFollowing();
};

void TestWindowControl::initTestCase()
{
    qInstallMessageHandler(captureLog);
}

void TestWindowControl::init()
{
    g_log.clear();
}

// How createWnd finds and attaches to the browser. The page rectangle is (10, 20, 400, 300).
void TestWindowControl::createWnd_data()
{
    QTest::addColumn<QString>("browserClass");
    QTest::addColumn<QJsonObject>("members");
    QTest::addColumn<QString>("parentWnd"); // "browser": the browser's handle in decimal
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<bool>("nativeChild"); // of the browser window
    QTest::addColumn<bool>("embedded");
    QTest::addColumn<QRect>("pageRect"); // the window's rectangle in page coordinates

    const QRect asSent(10, 20, 400, 300);
    const QRect atCorner(0, 0, 400, 300);
    QTest::newRow("embedded, by title") << "Chrome" << QJsonObject() << "" << 0 << true << true << asSent;
    QTest::newRow("top-level, by title")
        << "Chrome" << QJsonObject {{"embed", false}} << "" << 0 << false << false << asSent;
    QTest::newRow("embed not a boolean reads false")
        << "Chrome" << QJsonObject {{"embed", "yes"}} << "" << 0 << false << false << asSent;
    QTest::newRow("by class name") << "MozillaWindowClass" << QJsonObject {{"className", "MozillaWindowClass"}}
                                   << "" << 0 << true << true << asSent;
    QTest::newRow("class name differs") << "MozillaWindowClass" << QJsonObject {{"className", "Opera"}} << ""
                                        << 5001 << false << true << asSent;
    QTest::newRow("Chrome matches any class")
        << "Chrome_WidgetWin_1" << QJsonObject {{"className", "Chrome"}} << "" << 0 << true << true << asSent;
    QTest::newRow("no browser window") << "" << QJsonObject() << "" << 5001 << false << true << asSent;
    QTest::newRow("parentWnd handle: embedded, fills the parent")
        << "Chrome" << QJsonObject {{"embed", false}} << "browser" << 0 << true << true << atCorner;
    QTest::newRow("parentWnd 0") << "Chrome" << QJsonObject() << "0" << 5001 << false << true << atCorner;
    QTest::newRow("parentWnd not a number") << "Chrome" << QJsonObject() << "abc" << 5001 << false << true << atCorner;
    QTest::newRow("bClientUsed keeps embed and places as sent")
        << "Chrome" << QJsonObject {{"embed", false}, {"bClientUsed", true}} << "browser" << 0 << true << false
        << asSent;
    QTest::newRow("bClientUsed, embedded")
        << "Chrome" << QJsonObject {{"bClientUsed", true}} << "browser" << 0 << true << true << asSent;
}

void TestWindowControl::createWnd()
{
    QFETCH(QString, browserClass);
    QFETCH(QJsonObject, members);
    QFETCH(QString, parentWnd);
    QFETCH(int, errorCode);
    QFETCH(bool, nativeChild);
    QFETCH(bool, embedded);
    QFETCH(QRect, pageRect);

    WindowScene scene;
    const WindowScene::Browser browser
        = browserClass.isEmpty() ? WindowScene::Browser() : scene.openBrowser(browserClass);
    if (parentWnd == QLatin1String("browser"))
        members.insert("parentWnd", QString::number(qulonglong(browser.window)));
    else if (!parentWnd.isEmpty())
        members.insert("parentWnd", parentWnd);

    QCOMPARE(scene.createWindow(members), errorCode);
    WindowControl *window = scene.window();
    QVERIFY(window); // registered, also when no parent was found
    QCOMPARE(scene.desktop.parent(window->selfHandle()) == browser.window && browser.window, nativeChild);
    QCOMPARE(window->embedded(), embedded);
    QCOMPARE(window->isVisible(), errorCode == 0);
    QCOMPARE(g_log.contains("createWnd and show"), errorCode == 0);
    QCOMPARE(window->windowRect(), pageRect);

    // Placements after a parent handle came with the request stay in the parent's corner.
    scene.registry->setWndGeometry(
        WindowScene::request("setWndGeometry", {{"rect", WindowScene::rect(30, 40, 200, 100)}}));
    const bool fillsParent = !parentWnd.isEmpty() && !members.value("bClientUsed").toBool();
    QCOMPARE(window->windowRect(), fillsParent ? QRect(0, 0, 200, 100) : QRect(30, 40, 200, 100));
}

void TestWindowControl::componentMissing()
{
    WindowScene scene([](NativeDesktop &, QWidget *, const QString &) -> WebClientComponents * { return nullptr; });
    scene.openBrowser();
    const QJsonObject answer = WindowScene::parse(scene.registry->createWnd(
        WindowScene::request("createWnd", {{"rect", WindowScene::rect(10, 20, 400, 300)}})));
    QCOMPARE(answer.value("errorModule").toInt(), 5);
    QCOMPARE(answer.value("errorCode").toInt(), 5000);
    QCOMPARE(answer.value("uuid").toString(), WindowScene::kUuid);
    QCOMPARE(scene.registry->windowCount(), 0);
    QVERIFY(!g_log.contains("createWnd and show"));
}

// Where the page rectangle (10, 20, 400, 300) lands on screen.
void TestWindowControl::placement_data()
{
    QTest::addColumn<QString>("browserClass");
    QTest::addColumn<bool>("embed");
    QTest::addColumn<bool>("withContent");
    QTest::addColumn<QPoint>("screen");

    const QPoint onContent(kClientLeft + 10, kContentTop + 20);
    const QPoint onClient(kClientLeft + 10, kClientTop + 20);
    QTest::newRow("embedded Chrome: page-content offset") << "Chrome" << true << true << onContent;
    QTest::newRow("top-level Chrome: client origin and page-content offset") << "Chrome" << false << true << onContent;
    QTest::newRow("embedded Chrome without page content: no offset") << "Chrome" << true << false << onClient;
    QTest::newRow("top-level Chrome without page content: client origin") << "Chrome" << false << false << onClient;
    QTest::newRow("embedded other browser: client area") << "Other" << true << false << onClient;
    QTest::newRow("top-level other browser: window rectangle")
        << "Other" << false << false
        << QPoint(WindowScene::kBrowserRect.left + 10, WindowScene::kBrowserRect.top + 20);
}

void TestWindowControl::placement()
{
    QFETCH(QString, browserClass);
    QFETCH(bool, embed);
    QFETCH(bool, withContent);
    QFETCH(QPoint, screen);

    WindowScene scene;
    scene.openBrowser(browserClass, withContent);
    const QString className = browserClass == QLatin1String("Chrome") ? browserClass : QString();
    QCOMPARE(scene.createWindow({{"embed", embed}, {"className", className}}), 0);
    WindowControl *window = scene.window();
    QCOMPARE(scene.screenRect(window), QRect(screen, QSize(400, 300)));
    QCOMPARE(window->components()->geometry(), QRect(0, 0, 400, 300));

    // The browser moves: a top-level window follows on the next 15 ms tick, an embedded one moves with it.
    scene.desktop.moveWindow(scene.window()->parentHandle(), {300, 200, 1300, 1000});
    scene.registry->followTick();
    QCOMPARE(scene.screenRect(window), QRect(screen + QPoint(200, 150), QSize(400, 300)));
}

// An embedded window is a child of the browser window itself: the search for Chrome's page-content child
// passes over it whatever class this process's windows have, also once the settle step has run.
void TestWindowControl::ownWindowIsNotThePageContent_data()
{
    QTest::addColumn<QString>("ownClass");
    QTest::addColumn<bool>("withContent");
    QTest::addColumn<QPoint>("screen");

    const QPoint onContent(kClientLeft + 10, kContentTop + 20);
    const QPoint onClient(kClientLeft + 10, kClientTop + 20);
    QTest::newRow("Qt's class, as on Windows") << "Qt5QWindowIcon" << false << onClient;
    QTest::newRow("the application's class, as on X11") << "LocalService" << false << onClient;
    QTest::newRow("the application's class, page content there") << "LocalService" << true << onContent;
}

void TestWindowControl::ownWindowIsNotThePageContent()
{
    QFETCH(QString, ownClass);
    QFETCH(bool, withContent);
    QFETCH(QPoint, screen);

    WindowScene scene;
    scene.desktop.setQtWindowClass(ownClass.toStdU16String());
    scene.openBrowser(QStringLiteral("Chrome"), withContent);
    QCOMPARE(scene.createWindow({{"className", "Chrome"}}), 0);
    WindowControl *window = scene.window();
    QVERIFY(scene.desktop.isOwnWindow(window->selfHandle()));
    QCOMPARE(scene.desktop.className(window->selfHandle()), ownClass.toStdU16String());
    QCOMPARE(scene.screenRect(window), QRect(screen, QSize(400, 300)));
    // The first sight of the browser counts as a move: the settle step follows six ticks later.
    for (int tick = 0; tick < 10; ++tick)
        scene.registry->trackTick();
    QVERIFY(g_log.contains("checkBrowserMove"));
    QCOMPARE(scene.screenRect(window), QRect(screen, QSize(400, 300)));
}

// setWndCover on the page rectangle (100, 50, 400, 300): the window shrinks to the visible part, the
// video widget keeps the whole rectangle's size, shifted by what is hidden on the left and top.
void TestWindowControl::covers_data()
{
    QTest::addColumn<QJsonArray>("covers"); // [position, size] pairs, in order
    QTest::addColumn<QRect>("pageRect");
    QTest::addColumn<QRect>("video");

    auto steps = [](std::initializer_list<std::pair<const char *, int>> list) {
        QJsonArray array;
        for (const auto &step : list)
            array.append(QJsonArray {step.first, step.second});
        return array;
    };
    QTest::newRow("left 30") << steps({{"left", 30}}) << QRect(130, 50, 370, 300) << QRect(-30, 0, 400, 300);
    QTest::newRow("left 30, then 0") << steps({{"left", 30}, {"left", 0}}) << QRect(100, 50, 400, 300)
                                     << QRect(0, 0, 400, 300);
    QTest::newRow("left 30, then 10") << steps({{"left", 30}, {"left", 10}}) << QRect(110, 50, 390, 300)
                                      << QRect(-10, 0, 400, 300);
    QTest::newRow("right 40") << steps({{"right", 40}}) << QRect(100, 50, 360, 300) << QRect(0, 0, 400, 300);
    QTest::newRow("top 20") << steps({{"top", 20}}) << QRect(100, 70, 400, 280) << QRect(0, -20, 400, 300);
    QTest::newRow("bottom 25") << steps({{"bottom", 25}}) << QRect(100, 50, 400, 275) << QRect(0, 0, 400, 300);
    QTest::newRow("all four sides") << steps({{"left", 30}, {"right", 40}, {"top", 20}, {"bottom", 25}})
                                    << QRect(130, 70, 330, 255) << QRect(-30, -20, 400, 300);
    QTest::newRow("Left with a capital letter re-places only")
        << steps({{"Left", 30}}) << QRect(100, 50, 400, 300) << QRect(0, 0, 400, 300);
}

void TestWindowControl::covers()
{
    QFETCH(QJsonArray, covers);
    QFETCH(QRect, pageRect);
    QFETCH(QRect, video);

    WindowScene scene;
    scene.openBrowser(QStringLiteral("Other"));
    QCOMPARE(scene.createWindow({{"rect", WindowScene::rect(100, 50, 400, 300)}}), 0);
    for (const QJsonValue &step : qAsConst(covers)) {
        const QJsonArray pair = step.toArray();
        const QJsonObject answer = WindowScene::parse(scene.registry->setWndCover(
            WindowScene::request("setWndCover", {{"position", pair.at(0)}, {"size", pair.at(1)}})));
        QCOMPARE(answer.value("errorCode").toInt(), 0);
    }
    WindowControl *window = scene.window();
    QCOMPARE(window->windowRect(), pageRect);
    QCOMPARE(window->geometry(), pageRect); // embedded: parent client coordinates
    QCOMPARE(window->components()->geometry(), video);
}

// A top-level window follows its browser without resizing its video: the covered parts stay where
// they were, however often the browser moves.
void TestWindowControl::coversSurviveFollowing()
{
    WindowScene scene;
    const WindowScene::Browser browser = scene.openBrowser(QStringLiteral("Other"));
    QCOMPARE(scene.createWindow({{"embed", false}, {"rect", WindowScene::rect(100, 50, 400, 300)}}), 0);
    scene.registry->setWndCover(WindowScene::request("setWndCover", {{"position", "left"}, {"size", 30}}));
    scene.registry->setWndCover(WindowScene::request("setWndCover", {{"position", "right"}, {"size", 20}}));
    WindowControl *window = scene.window();
    const QRect video = window->components()->geometry();
    QCOMPARE(video, QRect(-30, 0, 400, 300));
    for (int move = 1; move <= 3; ++move) {
        scene.desktop.moveWindow(browser.window, {100 + 10 * move, 50, 1100 + 10 * move, 850});
        scene.registry->followTick();
        QCOMPARE(scene.screenRect(window).topLeft(), QPoint(100 + 10 * move + 130, 100));
        QCOMPARE(window->components()->geometry(), video);
    }
}

QTEST_MAIN(TestWindowControl)
#include "tst_windowcontrol.moc"
