// A page stream's queue between the library's thread and the connection: pieces in order, frames dropped
// to the next key frame once the page falls behind, and what waits bounded by the unsent-bytes bound.
#include "webservice/PageStreamViewer.h"

#include <QtTest>

#include <thread>

namespace {

constexpr qint64 kBound = 100 * 1000;
const QByteArray kFrame(10 * 1000, 'f');

QByteArray kinds(const std::deque<PageStreamViewer::Piece> &pieces)
{
    QByteArray text;
    for (const PageStreamViewer::Piece &piece : pieces)
        text += "CIFETN"[piece.kind];
    return text;
}

} // namespace

class TestPageStreamViewer : public QObject
{
    Q_OBJECT

private slots:
    // Pieces come from another thread in order, and the GUI thread is told once per batch.
    void piecesArriveInOrderOnTheGuiThread()
    {
        int readyCalls = 0;
        auto viewer = std::make_shared<PageStreamViewer>([&] { ++readyCalls; }, kBound);
        std::thread library([&] {
            viewer->streamCodec("avc1.42C01E", 320, 240);
            viewer->streamInit("init");
            for (int i = 0; i < 5; ++i)
                viewer->streamFragment(QByteArray::number(i), i == 0);
            viewer->streamEnded();
            viewer->streamFragment("after the end", true);
        });
        library.join();
        QTRY_COMPARE_WITH_TIMEOUT(readyCalls, 1, 10000);
        const std::deque<PageStreamViewer::Piece> pieces = viewer->take();
        QCOMPARE(kinds(pieces), QByteArray("CIFFFFFE"));
        QCOMPARE(pieces[0].bytes, QByteArray("avc1.42C01E"));
        QCOMPARE(pieces[0].width, 320);
        QCOMPARE(pieces[6].bytes, QByteArray("4"));
        QCOMPARE(viewer->droppedFrames(), 0);
    }

    // Behind the bound, whatever the socket holds: frames are dropped until a key frame that comes once
    // the page has caught up, and nothing that waits passes the bound by more than one frame.
    void aViewerBehindIsDroppedToTheNextKeyFrame()
    {
        auto viewer = std::make_shared<PageStreamViewer>([] {}, kBound);
        viewer->streamFragment("k1", true);
        viewer->streamFragment("p1", false);
        viewer->setSocketUnsent(kBound + 1); // the page stopped reading
        viewer->streamFragment("p2", false);
        viewer->streamFragment("k2", true); // still behind: a key frame is dropped too
        viewer->setSocketUnsent(0);
        viewer->streamFragment("p3", false); // caught up, but this one needs the dropped frames
        viewer->streamFragment("k3", true);
        viewer->streamFragment("p4", false);
        std::deque<PageStreamViewer::Piece> pieces = viewer->take();
        QStringList sent;
        for (const PageStreamViewer::Piece &piece : pieces)
            sent.append(QString::fromLatin1(piece.bytes));
        QCOMPARE(sent, QStringList({ "k1", "p1", "k3", "p4" }));
        QCOMPARE(viewer->droppedFrames(), 3);

        // Nothing taken at all (the connection never gets to write): what waits stays bounded.
        qint64 waiting = 0;
        for (int i = 0; i < 1000; ++i)
            viewer->streamFragment(kFrame, i % 25 == 0);
        for (const PageStreamViewer::Piece &piece : viewer->take())
            waiting += piece.bytes.size();
        QVERIFY2(waiting <= kBound + kFrame.size(), qPrintable(QString::number(waiting)));
        QVERIFY(viewer->droppedFrames() > 900);
    }

    // What the page names decides which codecs come as they are; the rest is transcoded for it.
    void thePageNamesTheCodecFamiliesItPlays_data()
    {
        QTest::addColumn<QStringList>("decodable");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<bool>("plays");
        QTest::newRow("H.264 to a page of avc1") << QStringList { "avc1" } << QByteArray("avc1.64001F") << true;
        QTest::newRow("H.265 to a page of avc1") << QStringList { "avc1" } << QByteArray("hvc1.1.6.L93.B0") << false;
        QTest::newRow("H.265 to a page of avc1 and hvc1") << QStringList { "avc1", "hvc1" } << QByteArray("hvc1.1.6.L93.B0") << true;
        QTest::newRow("a codec pages never play") << QStringList { "avc1", "hvc1" } << QByteArray("mjpeg") << false;
        QTest::newRow("a family is a whole name") << QStringList { "avc" } << QByteArray("avc1.64001F") << false;
        QTest::newRow("no list: every codec") << QStringList() << QByteArray("hvc1.1.6.L93.B0") << true;
    }
    void thePageNamesTheCodecFamiliesItPlays()
    {
        QFETCH(QStringList, decodable);
        QFETCH(QByteArray, codec);
        QFETCH(bool, plays);
        const auto viewer = std::make_shared<PageStreamViewer>([] {}, kBound, decodable);
        QCOMPARE(viewer->streamPlays(codec), plays);
    }

    // A transcoded stream is announced with its cost; a refused one says why.
    void transcodingIsAnnouncedAndARefusalSaysWhy()
    {
        auto viewer = std::make_shared<PageStreamViewer>([] {}, kBound, QStringList { "avc1" });
        viewer->streamTranscoding("hvc1.1.6.L93.B0", -1);
        viewer->streamCodec("avc1.42C01E", 320, 240);
        viewer->streamTranscoding("hvc1.1.6.L93.B0", 12.5);
        viewer->streamNotTranscoded("mjpeg", VC_TRANSCODE_LIMIT);
        const std::deque<PageStreamViewer::Piece> pieces = viewer->take();
        QCOMPARE(kinds(pieces), QByteArray("TCTN"));
        QCOMPARE(pieces[0].bytes, QByteArray("hvc1.1.6.L93.B0"));
        QVERIFY(pieces[0].cpuPercent < 0);
        QCOMPARE(pieces[2].cpuPercent, 12.5);
        QCOMPARE(pieces[3].bytes, QByteArray("mjpeg"));
        QCOMPARE(pieces[3].refusal, int(VC_TRANSCODE_LIMIT));
    }
};

QTEST_GUILESS_MAIN(TestPageStreamViewer)
#include "tst_pagestreamviewer.moc"
