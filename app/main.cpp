#include "app/AppLog.h"
#include "app/ConfigLocation.h"
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

    const QString configPath = firstReadableFile(
        configFileCandidates(QApplication::applicationDirPath(), QProcessEnvironment::systemEnvironment()));
    if (configPath.isEmpty())
        qCDebug(lcApp) << "configuration file: none found, defaults used";
    else
        qCDebug(lcApp).noquote() << "configuration file:" << configPath;
    const ServiceConfig config = ServiceConfig::load(configPath);
    if (!claimSingleInstance(config.instanceName)) {
        delete app;
        return -1;
    }

    auto *server = new WebServer();
    qCDebug(lcApp) << config.portStart;
    server->listenInRange(config.portStart, config.effectivePortEnd());
    QApplication::setQuitOnLastWindowClosed(false);
    const int exitCode = QApplication::exec();

    delete server;
    delete app;
    return exitCode;
}
