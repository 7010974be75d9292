#include "tests/standins/RtspTestServer.h"

#include <QElapsedTimer>
#include <QFileInfo>

RtspTestServer::~RtspTestServer()
{
    kill();
}

bool RtspTestServer::start(QString *error, int port, const QStringList &options)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3"))) {
        *error = QStringLiteral("no /usr/bin/python3");
        return false;
    }
    process.reset(new QProcess);
    process->start(QStringLiteral("/usr/bin/python3"),
        QStringList { QStringLiteral(RTSP_TEST_SERVER), "--port", QString::number(port) } + options);
    if (!process->waitForStarted(5000)) {
        *error = QStringLiteral("the server does not start");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!process->canReadLine() && process->state() == QProcess::Running && clock.elapsed() < 15000)
        process->waitForReadyRead(200);
    const QByteArray line = process->readLine().trimmed();
    if (!line.startsWith("ready ")) {
        process->waitForFinished(2000);
        *error = QString::fromUtf8(process->readAllStandardError());
        gstreamerMissing = process->exitCode() == 77;
        return false;
    }
    boundPort = line.mid(6).toInt();
    return true;
}

void RtspTestServer::kill()
{
    if (process) {
        process->kill();
        process->waitForFinished(5000);
    }
}

QString RtspTestServer::url(const QString &credentials) const
{
    return QStringLiteral("rtsp://") + credentials + QStringLiteral("127.0.0.1:%1/test").arg(boundPort);
}

std::pair<int, int> RtspTestServer::readStrip(const QImage &image, const QRect &frame)
{
    // Below the strip the frame is grey: without it, this is no frame of the server.
    const int below = qGray(image.pixel(frame.center()));
    if (below < 90 || below > 165)
        return { -1, -1 };
    quint32 value = 0;
    const int y = frame.top() + frame.height() / 20;
    for (int bit = 0; bit < 32; ++bit) {
        const int x = frame.left() + int((bit + 0.5) * frame.width() / 32);
        const int grey = qGray(image.pixel(x, y));
        if (grey > 90 && grey < 165)
            return { -1, -1 };
        if (grey >= 165)
            value |= 1u << bit;
    }
    return { int(value & 0xffff), int(value >> 16) };
}
