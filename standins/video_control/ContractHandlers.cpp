#include "standins/video_control/ContractHandlers.h"

#include "standins/video_control/LibraryState.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {

// "VC_SetGridInfo" and "VC_GetGridInfo" both store under "gridInfo"; "VC_FishEyeSetPreset" under
// "fishEyePreset".
QString storedKey(QString function)
{
    function.remove(0, 3);
    const int at = function.indexOf(QRegularExpression(QStringLiteral("[SG]et")));
    function.remove(at, 3);
    function[0] = function[0].toLower();
    return function;
}

// Uploads come without a widget: their events go to the widget of the request's session.
QJsonObject startJob(ContractCall &call, TransferJob::Kind kind)
{
    QWidget *widget = call.widget ? call.widget : call.library.widgetNamed(call.request.value(QLatin1String("uuid")).toString());
    return call.library.jobs.start(kind, widget, shownRequest(call.request));
}

void setTalk(TalkTarget &target, bool on, const ContractCall &call)
{
    target.on = on;
    target.uuid = call.request.value(QLatin1String("uuid")).toString();
    target.widget = call.library.widgetNamed(target.uuid);
}

} // namespace

namespace ContractHandlers {

QJsonObject keepRequest(ContractCall &call)
{
    call.state.stored.insert(call.function, withoutEnvelope(call.request));
    return QJsonObject();
}

QJsonObject storeSetting(ContractCall &call)
{
    call.state.stored.insert(storedKey(call.function), withoutEnvelope(call.request));
    call.repaint();
    return QJsonObject();
}

QJsonObject readSetting(ContractCall &call)
{
    const QString key = storedKey(call.function);
    return QJsonObject { { key, call.state.stored.value(key) } };
}

QJsonObject storeLocalConfig(ContractCall &call)
{
    call.library.secrets.of(call.request).localConfig.insert(storedKey(call.function), withoutEnvelope(call.request));
    call.repaint();
    return QJsonObject();
}

QJsonObject readLocalConfig(ContractCall &call)
{
    const QString key = storedKey(call.function);
    return QJsonObject { { key, call.library.secrets.of(call.request).localConfig.value(key) } };
}

QJsonObject clearGraphics(ContractCall &call)
{
    for (const char *key : { "gridInfo", "rectInfo", "polygonInfo", "lineInfo", "pointInfo" })
        call.state.stored.remove(QLatin1String(key));
    call.repaint();
    return QJsonObject();
}

QJsonObject clearShapeByType(ContractCall &call)
{
    call.state.stored.remove(call.request.value(QLatin1String("type")).toString() + QLatin1String("Info"));
    return QJsonObject();
}

QJsonObject clearFishBoxes(ContractCall &call)
{
    call.state.stored.remove(QStringLiteral("fishBoxListInfo"));
    return QJsonObject();
}

QJsonObject setDrawShapeInfo(ContractCall &call)
{
    call.state.stored.insert(QStringLiteral("drawShapeInfo"), withoutEnvelope(call.request));
    call.events.append({ VC_EVENT_DRAW, call.widget, withoutEnvelope(call.request) });
    return QJsonObject();
}

QJsonObject selectShape(ContractCall &call)
{
    call.events.append({ VC_EVENT_DRAW_EXTRA, call.widget, withoutEnvelope(call.request) });
    return QJsonObject();
}

QJsonObject setDrawStatus(ContractCall &call)
{
    const int status = call.request.value(QLatin1String("status")).toInt(1);
    call.state.stored.insert(QStringLiteral("drawStatus"), status);
    if (status == 0)
        call.events.append({ VC_EVENT_DRAW_END, call.widget, call.state.stored.value(QLatin1String("drawShapeInfo")).toObject() });
    return QJsonObject { { QLatin1String("status"), status } };
}

QJsonObject setVolume(ContractCall &call)
{
    call.state.volume = qBound(0, call.request.value(QLatin1String("volume")).toInt(call.state.volume), 100);
    return QJsonObject { { QLatin1String("volume"), call.state.volume } };
}

QJsonObject openSound(ContractCall &call)
{
    if (call.known)
        call.state.sound = true;
    return QJsonObject { { QLatin1String("sound"), true } };
}

QJsonObject closeSound(ContractCall &call)
{
    if (call.known)
        call.state.sound = false;
    return QJsonObject { { QLatin1String("sound"), false } };
}

QJsonObject startVoiceTalk(ContractCall &call)
{
    setTalk(call.library.voiceTalk, true, call);
    return QJsonObject();
}

QJsonObject stopVoiceTalk(ContractCall &call)
{
    setTalk(call.library.voiceTalk, false, call);
    return QJsonObject();
}

QJsonObject startAudio(ContractCall &call)
{
    setTalk(call.library.audio, true, call);
    return QJsonObject();
}

QJsonObject stopAudio(ContractCall &call)
{
    call.library.audio.on = false;
    return QJsonObject();
}

QJsonObject startUpload(ContractCall &call) { return startJob(call, TransferJob::Upload); }
QJsonObject queryUpload(ContractCall &call) { return call.library.jobs.query(TransferJob::Upload, call.request, false); }
QJsonObject stopUpload(ContractCall &call) { return call.library.jobs.query(TransferJob::Upload, call.request, true); }
QJsonObject startDownload(ContractCall &call) { return startJob(call, TransferJob::Download); }
QJsonObject queryDownload(ContractCall &call) { return call.library.jobs.query(TransferJob::Download, call.request, false); }
QJsonObject stopDownload(ContractCall &call) { return call.library.jobs.query(TransferJob::Download, call.request, true); }
QJsonObject startUpgrade(ContractCall &call) { return startJob(call, TransferJob::Upgrade); }
QJsonObject queryUpgrade(ContractCall &call) { return call.library.jobs.query(TransferJob::Upgrade, call.request, false); }
QJsonObject stopUpgrade(ContractCall &call) { return call.library.jobs.query(TransferJob::Upgrade, call.request, true); }
QJsonObject submitHttp(ContractCall &call) { return startJob(call, TransferJob::Http); }
QJsonObject stopHttp(ContractCall &call) { return call.library.jobs.query(TransferJob::Http, call.request, true); }

QJsonObject uploadErrors(ContractCall &)
{
    return QJsonObject { { QLatin1String("errorInfo"), QJsonArray() } };
}

QJsonObject syncHttp(ContractCall &call)
{
    return QJsonObject {
        { QLatin1String("status"), 200 },
        { QLatin1String("url"), withoutCredentials(call.request.value(QLatin1String("url")).toString()) },
    };
}

// Keys and strings belong to the component named by the request's "uuid".
QJsonObject setSecretKey(ContractCall &call)
{
    call.library.secrets.of(call.request).key = call.request.value(QLatin1String("key")).toString();
    return QJsonObject();
}

QJsonObject setOriginalString(ContractCall &call)
{
    call.library.secrets.of(call.request).original = call.request.value(QLatin1String("original")).toString();
    return QJsonObject();
}

QJsonObject encryptString(ContractCall &call)
{
    const ComponentSecrets::Secrets &own = call.library.secrets.of(call.request);
    const QString original = call.request.value(QLatin1String("original")).toString(own.original);
    return QJsonObject { { QLatin1String("encrypted"), ComponentSecrets::encrypt(original, own.key) } };
}

QJsonObject decryptString(ContractCall &call)
{
    const QString encrypted = call.request.value(QLatin1String("encrypted")).toString();
    return QJsonObject { { QLatin1String("original"),
        ComponentSecrets::decrypt(encrypted, call.library.secrets.of(call.request).key) } };
}

QJsonObject chooseFile(ContractCall &call)
{
    // No dialog: the path the page proposed counts as chosen.
    return QJsonObject { { QLatin1String("filePath"), call.request.value(QLatin1String("defaultPath")).toString() } };
}

QJsonObject engineSupport(ContractCall &)
{
    return QJsonObject { { QLatin1String("engines"), QJsonArray { QStringLiteral("standin") } } };
}

QJsonObject pictureSize(ContractCall &)
{
    return QJsonObject { { QLatin1String("width"), 1920 }, { QLatin1String("height"), 1080 } };
}

} // namespace ContractHandlers
