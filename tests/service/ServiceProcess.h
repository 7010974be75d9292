#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// The real LocalService, copied into a temp dir of its own with its own LocalServiceConfig.json and run
// headless; its XDG configuration folders lie inside that dir too, so no file of this machine counts.
// Its debug log (bare messages) goes to a file in that dir and is read line by line from there: a pipe
// would be drained only while the test runs an event loop, and a service that logs while a test blocks on
// a socket would stop at a full pipe.
class ServiceProcess
{
public:
    // config is written verbatim; a null array writes no file.
    explicit ServiceProcess(const QByteArray &config);
    ~ServiceProcess();

    // Writes a configuration into the user's configuration folder the service is given
    // ($XDG_CONFIG_HOME/LocalService, inside the temp dir); returns its path.
    QString writeUserConfig(const QByteArray &config);
    // Runs the service under a limit of open files (soft and hard), set before it starts.
    void limitOpenFiles(int count);
    // Sets an environment variable for the start (a null value removes it); QT_QPA_PLATFORM is
    // "offscreen" unless changed here.
    void setEnvironmentVariable(const QString &name, const QString &value);
    bool start();
    bool waitForLogLine(const QString &line, int timeoutMs);
    // Waits for a line that matches; answers it, or a null text.
    QString waitForLogMatch(const QRegularExpression &pattern, int timeoutMs);
    // Waits until something accepts connections on 127.0.0.1:port.
    static bool waitForListener(quint16 port, int timeoutMs);
    bool waitForExit(int timeoutMs);
    bool isRunning() const { return process.state() == QProcess::Running; }
    int exitCode() const { return process.exitCode(); }
    qint64 pid() const { return process.processId(); }
    int threadCount() const;
    QStringList log();

    // count consecutive ports from a random high base, none of them in use on this machine now.
    static quint16 freePortRange(int count);
    // The configuration with those members, and the further members of more.
    static QByteArray configJson(int portStart, int portEnd, const QString &instanceName, QJsonObject more = {});
    static QString uniqueInstanceName();

private:
    QTemporaryDir dir;
    QProcess process;
    QFile logFile;
    QByteArray pending;
    QStringList lines;
    QString binary;
};
