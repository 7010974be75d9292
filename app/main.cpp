#include "app/AppLog.h"
#include "app/Privileges.h"
#include "app/ServiceConfig.h"
#include "app/SingleInstance.h"
#include "platform/DesktopBackend.h"
#include "video/VideoControl.h"
#include "webservice/WebServer.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    // Time and thread on every line; QT_MESSAGE_PATTERN still overrides this.
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} [%{threadid}] %{message}"));

    auto *app = new QApplication(argc, argv);
    if (enablePrivileges(currentDesktop())) {
        delete app;
        return 1; // the elevated copy carries on
    }
    VC_Initialize(static_cast<QWidget *>(nullptr));

    const ServiceConfig config = ServiceConfig::load(
        QApplication::applicationDirPath() + QStringLiteral("/LocalServiceConfig.json"));
    if (!claimSingleInstance(config.instanceName)) {
        delete app;
        return -1;
    }

    auto *server = new WebServer();
    server->setMediaPlaces(config.mediaPlaces);
    qCDebug(lcApp) << config.portStart;
    server->listenInRange(config.portStart, config.effectivePortEnd());
    QApplication::setQuitOnLastWindowClosed(false);
    const int exitCode = QApplication::exec();

    delete server;
    delete app;
    return exitCode;
}
