#include "ServiceProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUuid>

ServiceProcess::ServiceProcess(const QByteArray &config)
{
    binary = dir.filePath(QStringLiteral("LocalService"));
    QFile::copy(QStringLiteral(LS_SERVICE_BINARY), binary);
    if (!config.isNull()) {
        QFile file(dir.filePath(QStringLiteral("LocalServiceConfig.json")));
        if (file.open(QIODevice::WriteOnly))
            file.write(config);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{message}"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config-home")));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.filePath(QStringLiteral("config-dirs")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.setProgram(binary);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(dir.filePath(QStringLiteral("service.log")), QIODevice::Append);
}

ServiceProcess::~ServiceProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString ServiceProcess::writeUserConfig(const QByteArray &config)
{
    const QString folder = dir.filePath(QStringLiteral("config-home/LocalService"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/LocalServiceConfig.json");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
        return QString();
    return path;
}

void ServiceProcess::limitOpenFiles(int count)
{
    // prlimit sets the limit and then becomes the service: the process id stays the service's.
    process.setProgram(QStringLiteral("prlimit"));
    process.setArguments({QStringLiteral("--nofile=%1:%1").arg(count), binary});
}

void ServiceProcess::setEnvironmentVariable(const QString &name, const QString &value)
{
    QProcessEnvironment env = process.processEnvironment();
    if (value.isNull())
        env.remove(name);
    else
        env.insert(name, value);
    process.setProcessEnvironment(env);
}

bool ServiceProcess::start()
{
    process.start();
    if (!process.waitForStarted(5000))
        return false;
    if (!logFile.isOpen()) {
        logFile.setFileName(dir.filePath(QStringLiteral("service.log")));
        logFile.open(QIODevice::ReadOnly); // a restart appends to the same file
    }
    return true;
}

QStringList ServiceProcess::log()
{
    if (logFile.isOpen())
        pending += logFile.readAll();
    int end;
    while ((end = pending.indexOf('\n')) >= 0) {
        lines.append(QString::fromUtf8(pending.left(end)));
        pending.remove(0, end + 1);
    }
    return lines;
}

bool ServiceProcess::waitForLogLine(const QString &line, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!log().contains(line)) {
        if (waited.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
            return log().contains(line);
        process.waitForFinished(20); // returns early when the service ends
    }
    return true;
}

QString ServiceProcess::waitForLogMatch(const QRegularExpression &pattern, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const bool ended = process.state() == QProcess::NotRunning; // before the last read
        const QStringList matching = log().filter(pattern);
        if (!matching.isEmpty())
            return matching.first();
        if (ended || waited.elapsed() > timeoutMs)
            return QString();
        process.waitForFinished(20); // returns early when the service ends
    }
}

bool ServiceProcess::waitForListener(quint16 port, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

bool ServiceProcess::waitForExit(int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

int ServiceProcess::threadCount() const
{
    return QDir(QStringLiteral("/proc/%1/task").arg(process.processId()))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

quint16 ServiceProcess::freePortRange(int count)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const quint16 base = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 60000));
        bool allFree = true;
        for (int i = 0; i < count && allFree; ++i) {
            QTcpServer probe;
            allFree = probe.listen(QHostAddress::Any, static_cast<quint16>(base + i));
        }
        if (allFree)
            return base;
    }
    return 0;
}

QByteArray ServiceProcess::configJson(int portStart, int portEnd, const QString &instanceName, QJsonObject more)
{
    more.insert(QStringLiteral("ServicePortStart"), portStart);
    more.insert(QStringLiteral("ServicePortEnd"), portEnd);
    more.insert(QStringLiteral("SingleInstance"), instanceName);
    return QJsonDocument(more).toJson(QJsonDocument::Compact);
}

QString ServiceProcess::uniqueInstanceName()
{
    return QStringLiteral("ls-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}
