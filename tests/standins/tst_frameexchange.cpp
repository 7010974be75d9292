#include "standins/video_control/FrameExchange.h"

#include <QtTest>

#include <atomic>
#include <set>
#include <thread>

// A player's thread and a painter running at once through one exchange.
class TestFrameExchange : public QObject
{
    Q_OBJECT

private slots:
    void painterSeesWholeFramesInOrderInThreeBuffers();
};

void TestFrameExchange::painterSeesWholeFramesInOrderInThreeBuffers()
{
    constexpr int kFrames = 3000;
    FrameExchange exchange;
    std::atomic<int> replaced {0};
    std::set<const uchar *> written; // the player's buffers
    std::thread player([&] {
        for (int n = 1; n <= kFrames; ++n) {
            PlayerFrame &canvas = exchange.canvas();
            if (canvas.image.isNull())
                canvas.image = QImage(64, 48, QImage::Format_RGB32);
            // Every pixel says which frame it belongs to, written a row at a time.
            for (int y = 0; y < canvas.image.height(); ++y) {
                auto *row = reinterpret_cast<quint32 *>(canvas.image.scanLine(y));
                std::fill(row, row + canvas.image.width(), quint32(n));
            }
            written.insert(canvas.image.constBits());
            if (exchange.publish())
                ++replaced;
        }
    });

    std::set<const uchar *> painted;
    int last = 0;
    int fresh = 0;
    QString fault; // the first one seen; the player is joined before anything fails
    QElapsedTimer clock;
    clock.start();
    while (last < kFrames && fault.isEmpty() && clock.elapsed() < 60000) {
        bool isNew = false;
        const PlayerFrame &frame = exchange.take(&isNew);
        if (frame.image.isNull())
            continue;
        const quint32 first = frame.image.pixel(0, 0) & 0xffffff;
        // Read twice, with the player writing meanwhile: a frame it writes into would change.
        for (int pass = 0; pass < 2; ++pass) {
            for (int y = 0; y < frame.image.height(); ++y) {
                const auto *row = reinterpret_cast<const quint32 *>(frame.image.constScanLine(y));
                for (int x = 0; x < frame.image.width(); ++x) {
                    if ((row[x] & 0xffffff) != first)
                        fault = QStringLiteral("frame %1 has a pixel of frame %2")
                                    .arg(first)
                                    .arg(row[x] & 0xffffff);
                }
            }
        }
        if (int(first) < last || isNew != (int(first) > last))
            fault
                = QStringLiteral("frame %1 after %2, %3").arg(first).arg(last).arg(isNew ? "new" : "not new");
        fresh += isNew;
        last = int(first);
        painted.insert(frame.image.constBits());
    }
    player.join();
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(last, kFrames);
    // Every frame was either painted or replaced unpainted; no pixels were allocated per frame.
    QCOMPARE(fresh + replaced.load(), kFrames);
    QVERIFY2(written.size() <= 3, qPrintable(QString::number(written.size())));
    QVERIFY2(painted.size() <= 3, qPrintable(QString::number(painted.size())));
}

QTEST_GUILESS_MAIN(TestFrameExchange)
#include "tst_frameexchange.moc"
