#include "app/AppLog.h"
#include "app/ConfigLocation.h"
#include "app/MemoryPolicy.h"
#include "app/Privileges.h"
#include "app/QtPlatformChoice.h"
#include "app/ServiceConfig.h"
#include "app/SingleInstance.h"
#include "app/StartupReport.h"
#include "platform/DesktopBackend.h"
#include "video/VideoControl.h"
#include "webservice/WebServer.h"
#include "window/WindowControlManager.h"

#include <QApplication>
#include <QWidget>

namespace {

// Where the listener is bound, as the system has it (the port actually taken, not the range's start).
QList<StartupReport::BoundAddress> boundAddresses(const WebServer &server)
{
    QList<StartupReport::BoundAddress> bound;
    for (const QHostAddress &address : server.listeningAddresses())
        bound.append({address, server.serverPort()});
    return bound;
}

} // namespace

int main(int argc, char *argv[])
{
    // Time and thread on every line; QT_MESSAGE_PATTERN still overrides this.
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} [%{threadid}] %{message}"));
    // Before anything large is allocated.
    const bool keptForReuse = MemoryPolicy::keepFreedBlocksForReuse();

    QString platformReason;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Before the application object: Qt aborts when the platform it loads cannot start.
    const QtPlatformChoice platform = chooseQtPlatform(
        {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"), &xDisplayAnswers});
    qputenv("QT_QPA_PLATFORM", platform.platform);
    platformReason = platform.reason;
#endif

    auto *app = new QApplication(argc, argv);
    if (enablePrivileges(currentDesktop())) {
        delete app;
        return 1; // the elevated copy carries on
    }
    VC_Initialize(static_cast<QWidget *>(nullptr));

    const QString configPath = firstReadableFile(
        configFileCandidates(QApplication::applicationDirPath(), QProcessEnvironment::systemEnvironment()));
    if (configPath.isEmpty())
        qCDebug(lcApp) << "configuration file: none found, defaults used";
    else
        qCDebug(lcApp).noquote() << "configuration file:" << configPath;
    const ServiceConfig config = ServiceConfig::load(configPath);
    qCDebug(lcApp) << "large freed blocks kept for reuse:" << keptForReuse;
    if (!claimSingleInstance(config.instanceName)) {
        qCDebug(lcApp).noquote() << StartupReport::instanceTaken(config.instanceName);
        delete app;
        return -1;
    }

    auto *windows = new WindowControlManager(currentDesktop());
    auto *server = new WebServer(*windows);
    server->setAccess({config.listenAddress, config.allowedHosts, config.allowedOrigins});
    server->setMediaPlaces(config.mediaPlaces);
    server->listenInRange(config.portStart, config.effectivePortEnd());
    qCDebug(lcApp).noquote() << StartupReport::started(boundAddresses(*server), config.portStart,
        config.effectivePortEnd(), QString::fromStdString(desktopBackendName(currentDesktop())), platformReason);
    QApplication::setQuitOnLastWindowClosed(false);
    const int exitCode = QApplication::exec();

    delete server;
    delete windows;
    delete app;
    return exitCode;
}
