#include "util/BitmapFile.h"
#include "util/ImageUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray zlibStream(const QByteArray &data, int level = 9)
{
    return qCompress(data, level).mid(4);
}

// The page's packing: each byte as a decimal field, fields joined with ",", Base64, URL encoding.
QByteArray fieldsOf(const QByteArray &bytes)
{
    QByteArrayList fields;
    for (char c : bytes)
        fields << QByteArray::number(static_cast<unsigned char>(c));
    return fields.join(',');
}

QString packFields(const QByteArray &fields)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(fields.toBase64()));
}

QString pack(const QString &command)
{
    return packFields(fieldsOf(zlibStream(command.toUtf8())));
}

// Collects the debug lines written while it lives.
class MessageLog
{
public:
    MessageLog()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { s_lines << text; });
    }
    ~MessageLog() { qInstallMessageHandler(m_previous); }
    QStringList lines() const { return s_lines; }

private:
    static QStringList s_lines;
    QtMessageHandler m_previous;
};
QStringList MessageLog::s_lines;

// Reads a bitmap's pixels in red-green-blue order (a BMP stores each pixel blue first).
QByteArray pixelsAsRgb(const QByteArray &bitmap)
{
    QByteArray rgb;
    for (int i = 54; i + 2 < bitmap.size(); i += 3)
        rgb += QByteArray() + bitmap.at(i + 2) + bitmap.at(i + 1) + bitmap.at(i);
    return rgb;
}

quint32 field32(const QByteArray &bitmap, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(bitmap.constData()) + offset);
}

// A fresh directory as the current one while it lives.
class ScratchDirectory
{
public:
    ScratchDirectory()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~ScratchDirectory() { QDir::setCurrent(m_previous); }
    bool isValid() const
    {
        return m_dir.isValid() && QDir::currentPath() == QDir(m_dir.path()).canonicalPath();
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

QByteArray fileContent(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const char *path, const QByteArray &content)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// makeTextBitmap on another thread, so that a call that blocks shows up as a failure and not as a hang.
// Null when it has not returned within the time.
std::shared_ptr<QByteArray> bitmapWithin(const char *text, std::chrono::milliseconds time)
{
    auto task = std::make_shared<std::packaged_task<QByteArray()>>(
        [text] { return ImageUtil::makeTextBitmap(text); });
    std::future<QByteArray> result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (result.wait_for(time) != std::future_status::ready)
        return nullptr;
    return std::make_shared<QByteArray>(result.get());
}

} // namespace

class TestImageUtil : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unpacksCommands_data();
    void unpacksCommands();
    void fieldsReadLikeAtoi_data();
    void fieldsReadLikeAtoi();
    void badZlibHeaderGivesEmptyAfterOneLine();
    void base64StageLimit_data();
    void base64StageLimit();
    void inflatedTextLimit_data();
    void inflatedTextLimit();
    void bitmapOfContinue();
    void bitmapOfEmptyAndMissingText();
    void bitmapPixelsCarryTheText();
    void bitmapFileThatCannotBeWritten();
    void concurrentBitmapsKeepTheirOwnText();
    void bitmapFileRefusesWhatIsNotItsOwn_data();
    void bitmapFileRefusesWhatIsNotItsOwn();
    void bitmapFileIsTheOwnersOnly_data();
    void bitmapFileIsTheOwnersOnly();
    void bitmapFileLockIsHonouredAndBounded();
    void twoInstancesInOneDirectoryKeepTheirAnswers();

private:
    QTemporaryDir m_dir;
};

void TestImageUtil::initTestCase()
{
    // The bitmap file is written into the current directory.
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestImageUtil::unpacksCommands_data()
{
    QTest::addColumn<QString>("packed");
    QTest::addColumn<QString>("command");
    const QString json
        = "{\"cmd\":\"video.startPlay\",\"uuid\":\"{0f8e}\",\"sequence\":3,\"url\":\"rtsp://h/ü\"}";
    const QByteArray fields = fieldsOf(zlibStream(json.toUtf8()));
    const QByteArray base64 = fields.toBase64();

    QTest::newRow("JSON round trip") << pack(json) << json;
    QTest::newRow("no URL encoding") << QString::fromLatin1(base64) << json;
    QByteArray allEncoded;
    for (char c : base64)
        allEncoded += "%" + QByteArray::number(static_cast<unsigned char>(c), 16).toUpper();
    QTest::newRow("every character percent-encoded") << QString::fromLatin1(allEncoded) << json;
    QByteArray lowerHex;
    for (char c : base64)
        lowerHex += "%" + QByteArray::number(static_cast<unsigned char>(c), 16);
    QTest::newRow("lower-case hex digits") << QString::fromLatin1(lowerHex) << json;
    // A "%" without two hex digits stays a "%" (which Base64 skips); the scan resumes right after it.
    QTest::newRow("stray percent signs")
        << "%" + QString::fromLatin1(base64.left(5)) + "%%!" + QString::fromLatin1(base64.mid(5)) + "%"
        << json;
    QTest::newRow("plus is a space, which Base64 skips")
        << "+" + QString::fromLatin1(base64.left(8)) + "+" + QString::fromLatin1(base64.mid(8)) << json;
    QTest::newRow("line-broken Base64") << QString::fromLatin1(
        QUrl::toPercentEncoding(base64.left(20) + "\r\n" + base64.mid(20, 30) + "\n" + base64.mid(50)))
                                        << json;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("zero byte ends the field text") << packFields(fields + QByteArray("\0,99,99", 7)) << json;
}

void TestImageUtil::unpacksCommands()
{
    QFETCH(QString, packed);
    QFETCH(QString, command);
    QCOMPARE(ImageUtil::getImgData(packed), command);
}

void TestImageUtil::fieldsReadLikeAtoi_data()
{
    // A stored stream has a 0x00 byte and two 0xff bytes in its block header.
    QTest::addColumn<QString>("zeroAs");
    QTest::addColumn<QString>("ffAs");
    QTest::newRow("256 gives 0, -1 gives 255") << "256"
                                               << "-1";
    QTest::newRow("plain") << "0"
                           << "255";
    QTest::newRow("leading white space and sign") << " \t+0"
                                                  << "\n -1";
    QTest::newRow("trailing characters ignored") << "0x12"
                                                 << "255.9";
    QTest::newRow("no digits gives 0") << ""
                                       << "-257";
    QTest::newRow("wider values keep their low byte") << "65536"
                                                      << "-4294967297";
    QTest::newRow("saturated like strtol") << "-99999999999999999999"
                                           << "99999999999999999999";
}

void TestImageUtil::fieldsReadLikeAtoi()
{
    QFETCH(QString, zeroAs);
    QFETCH(QString, ffAs);
    const QByteArray command = "{\"cmd\":\"system.get\"}";
    const QByteArray stream = zlibStream(command, 0);
    QVERIFY(stream.contains('\0') && stream.contains('\xff'));
    QByteArrayList fields;
    for (char c : stream) {
        const unsigned char byte = static_cast<unsigned char>(c);
        fields << (byte == 0 ? zeroAs.toLatin1() : byte == 0xff ? ffAs.toLatin1() : QByteArray::number(byte));
    }
    QCOMPARE(ImageUtil::getImgData(packFields(fields.join(','))), QString::fromLatin1(command));
}

void TestImageUtil::badZlibHeaderGivesEmptyAfterOneLine()
{
    MessageLog log;
    QCOMPARE(ImageUtil::getImgData(packFields("123,34,99,109,100,34")), QString());
    QCOMPARE(log.lines(), QStringList {"getImgData: ZIPUtil::zdecompress failed"});
}

void TestImageUtil::base64StageLimit_data()
{
    QTest::addColumn<int>("decodedSize");
    QTest::addColumn<bool>("accepted");
    const int limit = int(ImageUtil::kWorkBufferSize);
    QTest::newRow("one under the buffer") << limit - 1 << true;
    QTest::newRow("the whole buffer") << limit << false;
    QTest::newRow("over the buffer") << limit + 4 << false;
}

void TestImageUtil::base64StageLimit()
{
    QFETCH(int, decodedSize);
    QFETCH(bool, accepted);
    // Leading spaces in the first field pad the decoded text to the size wanted.
    const QByteArray command = "{\"cmd\":\"system.webconnect\"}";
    const QByteArray fields = fieldsOf(zlibStream(command));
    const QByteArray padded = QByteArray(decodedSize - fields.size(), ' ') + fields;
    QCOMPARE(ImageUtil::getImgData(packFields(padded)), accepted ? QString::fromLatin1(command) : QString());
}

void TestImageUtil::inflatedTextLimit_data()
{
    QTest::addColumn<int>("inflatedSize");
    QTest::addColumn<bool>("accepted");
    const int limit = int(ImageUtil::kWorkBufferSize);
    QTest::newRow("one under the buffer") << limit - 1 << true;
    QTest::newRow("fills the buffer") << limit << false;
    QTest::newRow("longer than the buffer") << limit + 1000 << false;
}

void TestImageUtil::inflatedTextLimit()
{
    QFETCH(int, inflatedSize);
    QFETCH(bool, accepted);
    const QByteArray text(inflatedSize, 'x');
    const QString result = ImageUtil::getImgData(packFields(fieldsOf(zlibStream(text))));
    QCOMPARE(result.size(), accepted ? inflatedSize : 0);
}

void TestImageUtil::bitmapOfContinue()
{
    QByteArray expected;
    const auto put = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            expected += char((value >> (8 * i)) & 0xff);
    };
    expected += "BM";
    put(66, 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(4, 4);
    put(1, 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(12, 4);
    expected += QByteArray(16, '\0'); // resolutions and colour counts
    expected += QByteArray("nocnit\0eu\0\0\0", 12);

    const QByteArray bitmap = ImageUtil::makeTextBitmap("continue");
    QCOMPARE(bitmap, expected);
    // The file is left in place and is what was returned.
    QFile file(ImageUtil::kBitmapFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestImageUtil::bitmapOfEmptyAndMissingText()
{
    const QByteArray empty = ImageUtil::makeTextBitmap("");
    QCOMPARE(empty.size(), 54);
    QCOMPARE(field32(empty, 2), 54u);
    QCOMPARE(field32(empty, 22), 0u);
    QCOMPARE(field32(empty, 34), 0u);
    QCOMPARE(ImageUtil::makeTextBitmap(nullptr), QByteArray());
}

void TestImageUtil::bitmapPixelsCarryTheText()
{
    for (int length = 1; length <= 40; ++length) {
        QByteArray text;
        for (int i = 0; i < length; ++i)
            text += char('A' + i % 26);
        const QByteArray bitmap = ImageUtil::makeTextBitmap(text.constData());
        const int rows = (length + 11) / 12;
        QCOMPARE(bitmap.size(), 54 + 12 * rows);
        QCOMPARE(field32(bitmap, 2), quint32(bitmap.size()));
        QCOMPARE(field32(bitmap, 22), quint32(rows));
        QCOMPARE(pixelsAsRgb(bitmap), text + QByteArray(12 * rows - length, '\0'));
    }
}

void TestImageUtil::bitmapFileThatCannotBeWritten()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(QDir().mkdir("res.bmp")); // a folder in the file's place: it cannot be created
    MessageLog log;
    QCOMPARE(ImageUtil::makeTextBitmap("continue"), QByteArray());
    QVERIFY(log.lines().isEmpty());
    QVERIFY(QDir::setCurrent(previous));
}

void TestImageUtil::concurrentBitmapsKeepTheirOwnText()
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 100;
    std::atomic<int> mismatches {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            // Texts of different lengths, so that a neighbour's file differs in size as well as content.
            const QByteArray text
                = "{\"thread\":" + QByteArray::number(t) + ",\"pad\":\"" + QByteArray(t * 13, 'p') + "\"}";
            for (int round = 0; round < kRounds; ++round) {
                const QByteArray bitmap = ImageUtil::makeTextBitmap(text.constData());
                if (pixelsAsRgb(bitmap).left(text.size()) != text
                    || bitmap.size() != 54 + 12 * ((text.size() + 11) / 12))
                    ++mismatches;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(mismatches.load(), 0);
}

void TestImageUtil::bitmapFileRefusesWhatIsNotItsOwn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symbolic link to a file") << "symlink";
    QTest::newRow("symbolic link to nothing yet") << "dangling";
    QTest::newRow("hard link to a file") << "hardlink";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("another user's file") << "foreign";
}

// A planted res.bmp must never make an answer land in another file, block the image channel, or hand an
// answer (session identifier included) to another user.
void TestImageUtil::bitmapFileRefusesWhatIsNotItsOwn()
{
    QFETCH(QString, kind);
    ScratchDirectory dir;
    QVERIFY(dir.isValid());
    const QByteArray precious = "precious content";
    QVERIFY(writeFile("victim", precious));
    const char *bitmapFile = ImageUtil::kBitmapFile;
    if (kind == "symlink")
        QCOMPARE(::symlink("victim", bitmapFile), 0);
    else if (kind == "dangling")
        QCOMPARE(::symlink("created-through-link", bitmapFile), 0);
    else if (kind == "hardlink")
        QCOMPARE(::link("victim", bitmapFile), 0);
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(bitmapFile, 0600), 0);
    else if (kind == "foreign") {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        QCOMPARE(::rename("victim", bitmapFile), 0);
        QCOMPARE(::chown(bitmapFile, 65534, 65534), 0);
    }

    {
        MessageLog log;
        const std::shared_ptr<QByteArray> bitmap
            = bitmapWithin("{\"session\":\"s3cr3t\"}", std::chrono::seconds(3));
        QVERIFY2(bitmap, "makeTextBitmap blocked");
        QCOMPARE(*bitmap, QByteArray());
        QVERIFY2(log.lines().join('\n').contains("refused"), qPrintable(log.lines().join('\n')));
    }
    if (kind == "foreign")
        QCOMPARE(fileContent(bitmapFile), precious);
    else
        QCOMPARE(fileContent("victim"), precious);
    QVERIFY(!QFile::exists("created-through-link"));

    // Nothing is left held: once the entry is gone, the next answer goes through.
    QCOMPARE(::unlink(bitmapFile), 0);
    const std::shared_ptr<QByteArray> next = bitmapWithin("continue", std::chrono::seconds(3));
    QVERIFY2(next, "makeTextBitmap blocked");
    QCOMPARE(pixelsAsRgb(*next).left(8), QByteArray("continue"));
}

void TestImageUtil::bitmapFileIsTheOwnersOnly_data()
{
    QTest::addColumn<bool>("leftReadableByAll");
    QTest::newRow("created") << false;
    QTest::newRow("left readable by everyone by an earlier version") << true;
}

void TestImageUtil::bitmapFileIsTheOwnersOnly()
{
    QFETCH(bool, leftReadableByAll);
    ScratchDirectory dir;
    QVERIFY(dir.isValid());
    const mode_t previousMask = ::umask(0); // the mode must not depend on the caller's umask
    if (leftReadableByAll)
        QCOMPARE(::close(::open(ImageUtil::kBitmapFile, O_CREAT | O_WRONLY, 0644)), 0);
    const QByteArray bitmap = ImageUtil::makeTextBitmap("{\"session\":\"s3cr3t\"}");
    ::umask(previousMask);
    QVERIFY(!bitmap.isEmpty());
    struct stat status = {};
    QCOMPARE(::stat(ImageUtil::kBitmapFile, &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0600));
    QCOMPARE(fileContent(ImageUtil::kBitmapFile), bitmap);
}

// The lock is the one another instance takes: a request waits while it is held, for a bounded time.
void TestImageUtil::bitmapFileLockIsHonouredAndBounded()
{
    ScratchDirectory dir;
    QVERIFY(dir.isValid());
    const QByteArray expected = ImageUtil::makeTextBitmap("continue");
    QVERIFY(!expected.isEmpty());
    const int other = ::open(ImageUtil::kBitmapFile, O_RDWR | O_CLOEXEC);
    QVERIFY(other >= 0);
    QCOMPARE(::flock(other, LOCK_EX), 0);

    auto waiting = std::async(std::launch::async, [] { return ImageUtil::makeTextBitmap("continue"); });
    QCOMPARE(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    // The other instance writes its answer and reads it back before it lets go.
    QCOMPARE(::ftruncate(other, 0), 0);
    QCOMPARE(::pwrite(other, "other instance's answer", 23, 0), ssize_t(23));
    QCOMPARE(::flock(other, LOCK_UN), 0);
    QCOMPARE(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    QCOMPARE(waiting.get(), expected);

    // A holder that never lets go costs a request its lock wait, not the channel.
    QCOMPARE(::flock(other, LOCK_EX), 0);
    QElapsedTimer timer;
    timer.start();
    QByteArray readBack = "stale";
    QCOMPARE(
        BitmapFile(ImageUtil::kBitmapFile, std::chrono::milliseconds(200)).writeAndReadBack("new", &readBack),
        BitmapFile::Outcome::LockTimedOut);
    QVERIFY2(timer.elapsed() >= 150 && timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(readBack, QByteArray());
    QCOMPARE(fileContent(ImageUtil::kBitmapFile), expected);
    ::close(other);
}

// Two instances started in one directory, and this process's own workers, answer at the same time.
void TestImageUtil::twoInstancesInOneDirectoryKeepTheirAnswers()
{
    ScratchDirectory dir;
    QVERIFY(dir.isValid());
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const char *tag : {"first", "second"}) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->setWorkingDirectory(dir.path());
        writers.back()->start(
            QStringLiteral(LS_BITMAP_WRITER), {QString::fromLatin1(tag), QStringLiteral("3000")});
    }
    for (const auto &writer : writers)
        QVERIFY(writer->waitForStarted());

    // This process's threads answer for as long as the other instances do.
    std::atomic<bool> othersRunning {true};
    std::atomic<int> ownAnswers {0};
    std::atomic<int> ownMismatches {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t, &othersRunning, &ownAnswers, &ownMismatches] {
            const QByteArray text = "{\"writer\":\"self" + QByteArray::number(t) + "\",\"pad\":\""
                + QByteArray(5 + t * 17, 'q') + "\"}";
            while (othersRunning) {
                const QByteArray bitmap = ImageUtil::makeTextBitmap(text.constData());
                ++ownAnswers;
                if (bitmap.size() != 54 + 12 * ((text.size() + 11) / 12)
                    || !pixelsAsRgb(bitmap).startsWith(text))
                    ++ownMismatches;
            }
        });
    }
    QStringList reports;
    for (const auto &writer : writers) {
        const bool finished = writer->waitForFinished(60000);
        if (!finished)
            writer->kill();
        reports << QString::fromLatin1(writer->readAllStandardOutput()).trimmed();
    }
    othersRunning = false;
    for (std::thread &thread : threads)
        thread.join();

    QVERIFY(ownAnswers > 0);
    QCOMPARE(ownMismatches.load(), 0);
    // "<answers> <other's> <mangled>"
    QCOMPARE(reports, QStringList({"3000 0 0", "3000 0 0"}));
}

QTEST_GUILESS_MAIN(TestImageUtil)
#include "tst_imageutil.moc"
