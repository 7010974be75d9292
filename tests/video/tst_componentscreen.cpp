// Runs under Xvfb on the xcb platform: what a person would see of a component on a real screen.
#include "platform/memory/MemoryDesktop.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"

#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestComponentScreen : public QObject
{
    Q_OBJECT

private slots:
    void paintsCellsAndMovesPlayingOnes();
    void showsAPlayingStream();
};

namespace {

QImage grabScreen(const QWidget &window)
{
    const QRect frame = window.geometry();
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

void TestComponentScreen::paintsCellsAndMovesPlayingOnes()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    VC_SetWndColor("#102030", "#405060", "#708090", "#ffc000");
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.setGeometry(0, 0, 400, 300);
    MemoryDesktop desktop;
    WebClientComponents component(desktop, &window, QStringLiteral("{screen}"));
    component.setGeometry(0, 0, 400, 300);
    component.call(VC_FUNCTION(VC_ArrangeWindow), { { "windowNum", 4 } });
    component.startPlay(VC_FUNCTION(VC_Play), { { "wndIndex", 3 }, { "url", "pattern://camera/screen" } });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(300);

    const QImage first = grabScreen(window);
    // Cell 1 (upper right) is idle: sub-background inside, border colour on its edge.
    QCOMPARE(QColor(first.pixel(300, 75)), QColor("#405060"));
    QCOMPARE(QColor(first.pixel(201, 75)), QColor("#708090"));
    // Cell 0 is selected: its border is in the selected-border colour.
    QCOMPARE(QColor(first.pixel(1, 75)), QColor("#ffc000"));

    // The playing cell 3 (lower right) changes between two frames; the idle cells do not.
    QTest::qWait(200);
    const QImage second = grabScreen(window);
    const QRect playing(210, 160, 180, 130);
    const QRect idle(10, 160, 180, 130);
    QVERIFY(first.copy(playing) != second.copy(playing));
    QCOMPARE(first.copy(idle), second.copy(idle));
}

void TestComponentScreen::showsAPlayingStream()
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
        QSKIP("ffmpeg is not installed: no test stream can be made (Debian package ffmpeg)");
    QTemporaryDir dir;
    const QString file = dir.filePath("screen.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", { "-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "10", "-c:v",
                               "libx264", "-pix_fmt", "yuv420p", file });
    QVERIFY(ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0);

    VC_SetWndColor("#102030", "#405060", "#708090", "#ffc000");
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.setGeometry(0, 0, 400, 300);
    MemoryDesktop desktop;
    WebClientComponents component(desktop, &window, QStringLiteral("{screen-stream}"));
    component.setGeometry(0, 0, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    component.startPlay(VC_FUNCTION(VC_Play), { { "wndIndex", 0 }, { "url", file } });
    // The test source is colourful and moves: the cell shows it, changing, on the screen.
    const QRect picture(100, 80, 200, 140);
    const QColor subBackground("#405060");
    QImage first;
    QTRY_VERIFY_WITH_TIMEOUT((first = grabScreen(window)).pixelColor(picture.center()) != subBackground
            && first.pixelColor(picture.center()) != Qt::black,
        10000);
    QTRY_VERIFY(grabScreen(window).copy(picture) != first.copy(picture));
    component.call(VC_FUNCTION(VC_Stop), { { "wndIndex", 0 } });
    QTRY_COMPARE(grabScreen(window).pixelColor(picture.center()), subBackground);
}

QTEST_MAIN(TestComponentScreen)
#include "tst_componentscreen.moc"
