// End to end on a real X display: Xvfb with openbox, the real LocalService on Qt's "xcb" platform, and
// Debian's Chromium showing a page that connects over WebSocket, puts its session identifier in its
// title and asks for a plug-in window over one of its elements, with a hole over another. The screen is
// checked pixel by pixel. Skipped when Xvfb, openbox or Chromium are missing.
#include "platform/x11/X11Desktop.h"
#include "tests/platform/x11/X11TestClient.h"
#include "tests/platform/x11/X11TestDisplay.h"
#include "tests/service/RawWebSocketClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <cstdlib>

namespace {

constexpr std::uint32_t kPageGreen = 0x20c040;
constexpr std::uint32_t kVideoElement = 0xf0f000; // what the plug-in window must cover
constexpr std::uint32_t kMenuElement = 0xff00ff; // what the hole must show
constexpr std::uint32_t kOtherApplication = 0x3060e0;
constexpr std::uint32_t kEscapeKeysym = 0xff1b;
// Deadlines of the polls, generous: the whole suite may be running beside this test on two cores.
constexpr int kScreenTimeoutMs = 20000; // until the screen shows what is expected
constexpr int kBrowserTimeoutMs = 60000; // until a browser's window has the expected title
constexpr int kAnswerTimeoutMs = 20000; // until the service answers a command
constexpr int kProcessTimeoutMs = 20000; // until a process has started or ended

// The page puts its element's rectangle (in the window's client area, device pixels, as the README
// says) and the hole's in its title once both commands are answered.
const char kPage[] = R"(<!doctype html><html><head><title>LocalService page</title><style>
body{margin:0;background:#20c040}
#video{position:absolute;left:100px;top:80px;width:480px;height:320px;background:#f0f000}
#menu{position:absolute;left:200px;top:150px;width:120px;height:90px;background:#ff00ff}
</style></head><body><div id="video"></div><div id="menu"></div><script>
const [port, mode] = location.hash.slice(1).split(',');
const box = (id) => document.getElementById(id).getBoundingClientRect();
function pageRect(r) {
  const d = (outerWidth - innerWidth) / 2, k = devicePixelRatio;
  return {left: Math.round((d + r.left) * k), top: Math.round((outerHeight - innerHeight - d + r.top) * k),
          width: Math.round(r.width * k), height: Math.round(r.height * k)};
}
// A still page only shows itself, for a plug-in window that a client outside the browser drives.
if (mode === 'still') {
  document.title = 'Still page';
} else {
const ws = new WebSocket(`ws://127.0.0.1:${port}/`);
let uuid = '', ready = '';
const send = (cmd, members) => ws.send(JSON.stringify({cmd, uuid, sequence: cmd, ...members}));
ws.onopen = () => ws.send(JSON.stringify({cmd: 'system.webconnect'}));
ws.onmessage = (m) => {
  const answer = JSON.parse(m.data);
  if (!uuid) {
    uuid = answer.uuid;
    document.title = 'Cameras ' + uuid;
    // The title reaches the window's X property a moment later.
    setTimeout(() => send('window.createWnd', {rect: pageRect(box('video')), embed: mode !== 'top',
                                               ...(mode === 'chrome' ? {className: 'Chrome'} : {})}), 500);
  } else if (answer.sequence === 'window.createWnd') {
    const v = box('video'), h = box('menu');
    send('window.cuttingPartWindow', {rect: {left: h.left - v.left, top: h.top - v.top, width: h.width, height: h.height}, round: 0});
  } else if (answer.sequence === 'window.cuttingPartWindow') {
    const r = pageRect(box('video')), h = pageRect(box('menu'));
    ready = `Cameras ${uuid} at ${r.left},${r.top},${r.width},${r.height} hole ${h.left},${h.top},${h.width},${h.height}`;
    document.title = ready;
    if (mode === 'full')
      send('video.fullScreen', {full: true});
  } else if (answer.sequence === 'video.fullScreen') {
    document.title = ready + ' full';
  } else if (answer.cmd === 'window.onFullScreenChange' && answer.full === false) {
    document.title = ready + ' left full screen';
  }
};
}
</script></body></html>)";

struct Rect
{
    int left = 0, top = 0, width = 0, height = 0;
};

// The page's title once its plug-in window and the hole are in place: the rectangles of both.
const QRegularExpression &ready()
{
    static const QRegularExpression title(" at (\\d+),(\\d+),(\\d+),(\\d+) hole (\\d+),(\\d+),(\\d+),(\\d+)");
    return title;
}

Rect capturedRect(const QRegularExpressionMatch &match, int first)
{
    return {match.captured(first).toInt(), match.captured(first + 1).toInt(), match.captured(first + 2).toInt(),
        match.captured(first + 3).toInt()};
}

} // namespace

class tst_X11Chromium : public QObject
{
    Q_OBJECT

public:
    explicit tst_X11Chromium(const X11TestDisplay &display)
        : m_display(display)
    {
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pluginWindowOverThePage_data();
    void pluginWindowOverThePage();
    void fullScreenByCommandAndEscape();
    void newBrowserTakesTheWindowBack();

private:
    QString startService();
    // Chromium on the test's page at a known place; `mode` is the page's: embed, top, full or still.
    void startChromium(QProcess &chromium, const QTemporaryDir &profile, const QString &mode);
    // The browser window whose title matches, within a minute; 0 when none appeared.
    NativeHandle waitForBrowser(
        const QRegularExpression &title, QRegularExpressionMatch *match = nullptr, int timeoutMs = kBrowserTimeoutMs);
    // For a person to look at, when LS_TEST_SCREENSHOT_DIR names a folder; the path goes to the log.
    void saveScreen(const QString &name);
    // Every pixel that must show the plug-in window, the hole and the page around it; empty when right.
    QString checkScreen(NativePoint origin, const Rect &rect, const Rect &hole);
    // Points across the whole screen that must all show the plug-in window; empty when right.
    QString checkFullScreen();
    // A plug-in window filling `rect` from the corner of a browser's client area, the page beyond
    // its right and bottom edges; empty when right.
    QString checkInParent(NativePoint origin, const Rect &rect);
    bool isPluginPixel(std::uint32_t seen) const;
    QString xErrors(); // the lines of the service's log so far that report X errors
    // The answer to a command sent by a client outside the browser (events before it are passed over).
    QJsonObject command(RawWebSocketClient &client, QJsonObject request);

    const X11TestDisplay &m_display;
    QString m_chromium;
    QTemporaryDir m_dir;
    QProcess m_service;
    QByteArray m_serviceLog;
    quint16 m_port = 0;
    std::uint32_t m_rootColour = 0; // the bare screen, where no window is
    std::unique_ptr<X11Desktop> m_desktop;
    std::unique_ptr<X11TestClient> m_client;
};

// Empty once the service accepts connections; otherwise why not, with what it logged.
QString tst_X11Chromium::startService()
{
    const QString binary = m_dir.filePath("LocalService");
    if (!QFile::copy(QStringLiteral(LS_SERVICE_BINARY), binary))
        return "cannot copy the service";
    m_port = quint16(20000 + QRandomGenerator::global()->bounded(40000));
    QFile config(m_dir.filePath("LocalServiceConfig.json"));
    if (!config.open(QIODevice::WriteOnly))
        return "cannot write its configuration";
    // The page is opened from a file, whose origin is "null": listed, as a user who does this lists it.
    config.write(QStringLiteral(R"({"ServicePortStart": %1, "ServicePortEnd": %2, "SingleInstance": "ls-x11-%3",
                                    "AllowedOrigins": ["null"]})")
                     .arg(m_port)
                     .arg(m_port + 3)
                     .arg(QUuid::createUuid().toString(QUuid::Id128))
                     .toUtf8());
    config.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("QT_MESSAGE_PATTERN", "%{message}");
    m_service.setProcessEnvironment(environment);
    m_service.setWorkingDirectory(m_dir.path());
    m_service.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_service, &QProcess::readyRead, this, [this] { m_serviceLog += m_service.readAll(); });
    m_service.start(binary, QStringList());
    if (!m_service.waitForStarted(kProcessTimeoutMs))
        return "it did not start: " + m_service.errorString();
    // The first free port of the range: try them in turn until one accepts. A machine busy with other
    // tests (and a first start that fills the font caches) can take several seconds.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000 && m_service.state() == QProcess::Running) {
        for (quint16 port = m_port; port < m_port + 3; ++port) {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", port);
            if (probe.waitForConnected(200)) {
                m_port = port;
                return QString();
            }
        }
        QTest::qWait(100);
    }
    m_serviceLog += m_service.readAll();
    const QString state = m_service.state() == QProcess::Running
        ? QString("no listener after %1 ms").arg(waited.elapsed())
        : QString("it ended with %1 after %2 ms").arg(m_service.exitCode()).arg(waited.elapsed());
    return QString("%1 (DISPLAY %2); its log:\n%3")
        .arg(state, qEnvironmentVariable("DISPLAY"), QString::fromUtf8(m_serviceLog));
}

void tst_X11Chromium::initTestCase()
{
    if (!m_display.isRunning())
        QSKIP(qPrintable("no X display: " + QString::fromStdString(m_display.failure())));
    m_chromium = QStandardPaths::findExecutable("chromium");
    if (m_chromium.isEmpty())
        QSKIP("no chromium");
    QVERIFY(m_dir.isValid());
    QFile page(m_dir.filePath("page.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write(kPage);
    page.close();
    m_desktop = std::make_unique<X11Desktop>();
    m_client = std::make_unique<X11TestClient>();
    QVERIFY(m_desktop->isConnected() && m_client->isConnected());
    const NativeRect screen = m_client->screen();
    m_rootColour = m_client->pixel(screen.right - 1, screen.bottom - 1);
    const QString notStarted = startService();
    QVERIFY2(notStarted.isEmpty(), qPrintable(notStarted));
}

void tst_X11Chromium::cleanupTestCase()
{
    if (m_service.state() == QProcess::Running) {
        m_service.kill();
        m_service.waitForFinished(kProcessTimeoutMs);
    }
}

QString tst_X11Chromium::checkScreen(NativePoint origin, const Rect &rect, const Rect &hole)
{
    QStringList wrong;
    const auto expect = [&](int x, int y, bool plugin, std::uint32_t colour, const char *what) {
        const std::uint32_t seen = m_client->pixel(origin.x + x, origin.y + y);
        const bool right = plugin ? seen != kVideoElement && seen != kPageGreen && seen != kMenuElement : seen == colour;
        if (!right)
            wrong << QString("%1 at (%2,%3): %4").arg(what).arg(x).arg(y).arg(seen, 6, 16, QChar('0'));
    };
    const int right = rect.left + rect.width - 1;
    const int bottom = rect.top + rect.height - 1;
    // Its corner pixels and its middle below the hole are the plug-in window's; one pixel beyond each
    // edge is the page.
    for (const auto &corner : {std::pair {rect.left, rect.top}, {right, rect.top}, {rect.left, bottom}, {right, bottom}})
        expect(corner.first, corner.second, true, 0, "plug-in window corner");
    expect(rect.left + rect.width / 2, bottom - 20, true, 0, "plug-in window");
    expect(rect.left - 1, rect.top + 10, false, kPageGreen, "page left of it");
    expect(right + 1, rect.top + 10, false, kPageGreen, "page right of it");
    expect(rect.left + 10, rect.top - 1, false, kPageGreen, "page above it");
    expect(rect.left + 10, bottom + 1, false, kPageGreen, "page below it");
    // The hole shows the page's element, edge to edge.
    expect(hole.left, hole.top, false, kMenuElement, "hole corner");
    expect(hole.left + hole.width - 1, hole.top + hole.height - 1, false, kMenuElement, "hole corner");
    expect(hole.left - 1, hole.top + 5, true, 0, "plug-in window left of the hole");
    return wrong.join("; ");
}

void tst_X11Chromium::startChromium(QProcess &chromium, const QTemporaryDir &profile, const QString &mode)
{
    // Its complaints about the missing session bus would only clutter the test log.
    chromium.setStandardOutputFile(QProcess::nullDevice());
    chromium.setStandardErrorFile(QProcess::nullDevice());
    chromium.start(m_chromium,
        {"--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--test-type", "--user-data-dir=" + profile.path(),
            "--window-position=40,30", "--window-size=900,700",
            QUrl::fromLocalFile(m_dir.filePath("page.html")).toString() + QString("#%1,%2").arg(m_port).arg(mode)});
    QVERIFY(chromium.waitForStarted(kProcessTimeoutMs));
}

NativeHandle tst_X11Chromium::waitForBrowser(const QRegularExpression &title, QRegularExpressionMatch *match, int timeoutMs)
{
    NativeHandle browser = 0;
    const auto findBrowser = [&] {
        for (NativeHandle window : m_desktop->topLevelWindows()) {
            const QRegularExpressionMatch found = title.match(QString::fromStdU16String(m_desktop->windowTitle(window)));
            if (found.hasMatch()) {
                browser = window;
                if (match)
                    *match = found;
                return true;
            }
        }
        return false;
    };
    QElapsedTimer waited;
    waited.start();
    while (!findBrowser() && waited.elapsed() < timeoutMs)
        QTest::qWait(50);
    return browser;
}

void tst_X11Chromium::saveScreen(const QString &name)
{
    const QString directory = qEnvironmentVariable("LS_TEST_SCREENSHOT_DIR");
    if (directory.isEmpty())
        return;
    QDir().mkpath(directory);
    const QString path = QDir(directory).filePath(name + ".png");
    if (m_client->saveScreen(path.toStdString()))
        qInfo("screenshot: %s", qPrintable(path));
}

QString tst_X11Chromium::xErrors()
{
    m_serviceLog += m_service.readAll();
    QStringList errors;
    for (const QByteArray &line : m_serviceLog.split('\n')) {
        if (line.contains("XCB error"))
            errors << QString::fromUtf8(line);
    }
    return errors.join('\n');
}

bool tst_X11Chromium::isPluginPixel(std::uint32_t seen) const
{
    return seen != kVideoElement && seen != kPageGreen && seen != kMenuElement && seen != m_rootColour;
}

QString tst_X11Chromium::checkFullScreen()
{
    QStringList wrong;
    const NativeRect screen = m_client->screen();
    for (int row = 0; row <= 4; ++row) {
        for (int column = 0; column <= 4; ++column) {
            const int x = screen.left + (screen.right - screen.left - 1) * column / 4;
            const int y = screen.top + (screen.bottom - screen.top - 1) * row / 4;
            const std::uint32_t seen = m_client->pixel(x, y);
            if (!isPluginPixel(seen))
                wrong << QString("screen at (%1,%2): %3").arg(x).arg(y).arg(seen, 6, 16, QChar('0'));
        }
    }
    return wrong.join("; ");
}

QString tst_X11Chromium::checkInParent(NativePoint origin, const Rect &rect)
{
    QStringList wrong;
    const auto expect = [&](int x, int y, bool plugin, const char *what) {
        const std::uint32_t seen = m_client->pixel(origin.x + x, origin.y + y);
        const bool page = seen == kVideoElement || seen == kPageGreen || seen == kMenuElement;
        if (plugin ? !isPluginPixel(seen) : !page)
            wrong << QString("%1 at (%2,%3): %4").arg(what).arg(x).arg(y).arg(seen, 6, 16, QChar('0'));
    };
    const int right = rect.left + rect.width - 1;
    const int bottom = rect.top + rect.height - 1;
    for (const auto &corner : {std::pair {rect.left, rect.top}, {right, rect.top}, {rect.left, bottom}, {right, bottom}})
        expect(corner.first, corner.second, true, "plug-in window corner");
    expect(rect.left + rect.width / 2, rect.top + rect.height / 2, true, "plug-in window");
    expect(right + 1, rect.top + rect.height / 2, false, "page right of it");
    expect(rect.left + rect.width / 2, bottom + 1, false, "page below it");
    return wrong.join("; ");
}

QJsonObject tst_X11Chromium::command(RawWebSocketClient &client, QJsonObject request)
{
    const QString sequence = QUuid::createUuid().toString(QUuid::Id128);
    request.insert("sequence", sequence);
    client.sendText(QJsonDocument(request).toJson(QJsonDocument::Compact));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kAnswerTimeoutMs) {
        const QByteArray text = client.readText(kAnswerTimeoutMs - int(waited.elapsed()));
        if (text.isNull())
            break;
        const QJsonObject answer = QJsonDocument::fromJson(text).object();
        if (answer.value("sequence").toString() == sequence)
            return answer;
    }
    return {};
}

void tst_X11Chromium::pluginWindowOverThePage_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("embedded") << "embed";
    QTest::newRow("top-level") << "top";
    // What a page's library sends from Chromium: the search for a page-content child window finds none.
    QTest::newRow("embedded, class name Chrome") << "chrome";
}

void tst_X11Chromium::pluginWindowOverThePage()
{
    QFETCH(QString, mode);
    QTemporaryDir profile;
    QProcess chromium;
    startChromium(chromium, profile, mode);
    QRegularExpressionMatch match;
    const NativeHandle browser = waitForBrowser(ready(), &match);
    QVERIFY(browser);
    const Rect rect = capturedRect(match, 1);
    const Rect hole = capturedRect(match, 5);
    QString wrong;
    QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkScreen(m_desktop->clientOrigin(browser), rect, hole)).isEmpty(),
        qPrintable(wrong), kScreenTimeoutMs);
    saveScreen(mode + "-over-page");
    // And stays there, also through the settle step that the first sight of the browser starts.
    QElapsedTimer steady;
    steady.start();
    while (steady.elapsed() < 1500) {
        QVERIFY2((wrong = checkScreen(m_desktop->clientOrigin(browser), rect, hole)).isEmpty(), qPrintable(wrong));
        QTest::qWait(50);
    }

    // Moved, the browser takes the plug-in window along (a top-level one follows it).
    m_client->move(std::uint32_t(browser), 160, 110);
    QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkScreen(m_desktop->clientOrigin(browser), rect, hole)).isEmpty(),
        qPrintable(wrong), kScreenTimeoutMs);

    // Another application brought to the front covers the plug-in window where they overlap, and
    // leaves the rest of it over the page.
    const NativePoint origin = m_desktop->clientOrigin(browser);
    const int otherLeft = origin.x + rect.left + rect.width / 2;
    const int otherTop = origin.y + rect.top + rect.height / 2;
    const std::uint32_t other = m_client->create(
        {u"Other application", u"LsOther", {otherLeft, otherTop, otherLeft + 400, otherTop + 300}}, kOtherApplication);
    // The window code's 100 ms z-order ticks may restack once on the way (a tick that still saw the
    // browser in front); where they settle is what counts. A busy window manager may not have taken on
    // the new window when it is first asked to activate it: asked again each second until it has.
    QString seen;
    const auto otherInFront = [&] {
        const std::uint32_t pixel = m_client->pixel(otherLeft + 10, otherTop + 10);
        const NativeHandle foreground = m_desktop->foregroundWindow();
        seen = QString("pixel %1, foreground %2").arg(pixel, 6, 16, QChar('0')).arg(foreground);
        return pixel == kOtherApplication && foreground == NativeHandle(other);
    };
    QVERIFY(m_desktop->setForegroundWindow(other));
    QElapsedTimer waited;
    waited.start();
    QElapsedTimer asked;
    asked.start();
    while (!otherInFront() && waited.elapsed() < kScreenTimeoutMs) {
        if (m_desktop->foregroundWindow() != NativeHandle(other) && asked.elapsed() > 1000) {
            QVERIFY(m_desktop->setForegroundWindow(other));
            asked.restart();
        }
        QTest::qWait(50);
    }
    QVERIFY2(otherInFront(), qPrintable(seen));
    QTest::qWait(300); // a few ticks more
    QTRY_VERIFY2_WITH_TIMEOUT(otherInFront(), qPrintable(seen), kScreenTimeoutMs);
    QVERIFY2((wrong = checkScreen(origin, rect, hole)).isEmpty(), qPrintable(wrong));
    m_client->destroy(other);
    if (mode == "embed") {
        // The browser back in front, with its embedded plug-in window.
        QVERIFY(m_desktop->setForegroundWindow(browser));
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->foregroundWindow(), browser, kScreenTimeoutMs);
        QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkScreen(origin, rect, hole)).isEmpty(), qPrintable(wrong), kScreenTimeoutMs);
    }

    // The browser killed: the service runs on, without X errors.
    chromium.kill();
    QVERIFY(chromium.waitForFinished(kProcessTimeoutMs));
    QTest::qWait(500);
    QCOMPARE(m_service.state(), QProcess::Running);
    QVERIFY2(xErrors().isEmpty(), qPrintable(xErrors()));
}

void tst_X11Chromium::fullScreenByCommandAndEscape()
{
    QTemporaryDir profile;
    QProcess chromium;
    startChromium(chromium, profile, "full");
    // The page asks for full screen once its embedded plug-in window is in place.
    QRegularExpressionMatch match;
    const NativeHandle browser = waitForBrowser(QRegularExpression(ready().pattern() + " full - "), &match);
    QVERIFY(browser);
    const Rect rect = capturedRect(match, 1);
    const Rect hole = capturedRect(match, 5);
    QString wrong;
    QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkFullScreen()).isEmpty(), qPrintable(wrong), kScreenTimeoutMs);
    saveScreen("full-screen");

    // Escape on the full-screen window: back over the element, hole and all, and the page hears of it.
    // The key goes to the window with the input focus, which a busy window manager may hand to the
    // full-screen window late: pressed again until the page hears of it.
    const QRegularExpression left(ready().pattern() + " left full screen - ");
    NativeHandle back = 0;
    QElapsedTimer waited;
    waited.start();
    while (!back && waited.elapsed() < kBrowserTimeoutMs) {
        m_client->pressKey(kEscapeKeysym);
        back = waitForBrowser(left, nullptr, 3000);
    }
    QCOMPARE(back, browser);
    QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkScreen(m_desktop->clientOrigin(browser), rect, hole)).isEmpty(),
        qPrintable(wrong), kScreenTimeoutMs);
    saveScreen("full-screen-left");

    chromium.kill();
    QVERIFY(chromium.waitForFinished(kProcessTimeoutMs));
}

void tst_X11Chromium::newBrowserTakesTheWindowBack()
{
    // The session belongs to a client that outlives the browsers: the page's own socket would die
    // with its browser.
    RawWebSocketClient client;
    QVERIFY(client.open(m_port));
    client.sendText(R"({"cmd":"system.webconnect"})");
    const QString uuid = QJsonDocument::fromJson(client.readText()).object().value("uuid").toString();
    QVERIFY(!uuid.isEmpty());

    QTemporaryDir firstProfile;
    QProcess first;
    startChromium(first, firstProfile, "still");
    static const QRegularExpression still("^Still page");
    const NativeHandle browser = waitForBrowser(still);
    QVERIFY(browser);
    const Rect rect {0, 0, 300, 400};
    const QJsonObject created = command(client,
        {{"cmd", "window.createWnd"}, {"uuid", uuid}, {"parentWnd", QString::number(browser)},
            {"rect", QJsonObject {{"left", 0}, {"top", 0}, {"width", rect.width}, {"height", rect.height}}}});
    QCOMPARE(created.value("errorCode").toInt(-1), 0);
    QString wrong;
    QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkInParent(m_desktop->clientOrigin(browser), rect)).isEmpty(),
        qPrintable(wrong), kScreenTimeoutMs);
    saveScreen("in-first-browser");

    // The browser killed: the plug-in window goes with it, the service stays.
    const NativePoint gone = m_desktop->clientOrigin(browser);
    first.kill();
    QVERIFY(first.waitForFinished(kProcessTimeoutMs));
    QTRY_COMPARE_WITH_TIMEOUT(m_client->pixel(gone.x + rect.width / 2, gone.y + rect.height / 2), m_rootColour, kScreenTimeoutMs);
    QCOMPARE(m_service.state(), QProcess::Running);

    // A new browser window in front, and the page's word: the plug-in window is back, inside it.
    QTemporaryDir secondProfile;
    QProcess second;
    startChromium(second, secondProfile, "still");
    const NativeHandle next = waitForBrowser(still);
    QVERIFY(next); // often the dead browser's identifier again
    QVERIFY(m_desktop->setForegroundWindow(next));
    QTRY_COMPARE_WITH_TIMEOUT(m_desktop->foregroundWindow(), next, kScreenTimeoutMs);
    const QJsonObject updated = command(client, {{"cmd", "window.updateParentWnd"}, {"uuid", uuid}});
    QCOMPARE(updated.value("errorCode").toInt(-1), 0);
    QTRY_VERIFY2_WITH_TIMEOUT((wrong = checkInParent(m_desktop->clientOrigin(next), rect)).isEmpty(),
        qPrintable(wrong), kScreenTimeoutMs);
    saveScreen("in-new-browser");

    command(client, {{"cmd", "window.destroyWnd"}, {"uuid", uuid}});
    second.kill();
    QVERIFY(second.waitForFinished(kProcessTimeoutMs));
    QVERIFY2(xErrors().isEmpty(), qPrintable(xErrors()));
}

int main(int argc, char **argv)
{
    X11TestDisplay display(1280, 1024);
    if (display.isRunning())
        ::setenv("DISPLAY", display.name().c_str(), 1);
    QCoreApplication application(argc, argv);
    tst_X11Chromium test(display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_X11Chromium.moc"
