// First stand-in for the video library: every function of the contract exists and answers with no result
// document. Event callbacks are kept per type so that later versions can raise them.

#include "video/VideoControl.h"

#include <QJsonDocument>
#include <QMutex>
#include <QString>

namespace {

constexpr int kEventTypeCount = 13;

QMutex callbackMutex;
VC_EventCallback callbacks[kEventTypeCount] = {};

} // namespace

#define VC_DEFINE_WIDGET_REQUEST(name)                                                                       \
    QJsonDocument *name(QWidget *, const QJsonDocument *)                                                    \
    {                                                                                                        \
        return nullptr;                                                                                      \
    }
#define VC_DEFINE_REQUEST(name)                                                                              \
    QJsonDocument *name(const QJsonDocument *)                                                               \
    {                                                                                                        \
        return nullptr;                                                                                      \
    }
#define VC_DEFINE_WIDGET(name)                                                                               \
    QJsonDocument *name(QWidget *)                                                                           \
    {                                                                                                        \
        return nullptr;                                                                                      \
    }
#define VC_DEFINE_NO_ARGUMENT(name)                                                                          \
    QJsonDocument *name()                                                                                    \
    {                                                                                                        \
        return nullptr;                                                                                      \
    }

VC_WIDGET_REQUEST_FUNCTIONS(VC_DEFINE_WIDGET_REQUEST)
VC_REQUEST_FUNCTIONS(VC_DEFINE_REQUEST)
VC_WIDGET_FUNCTIONS(VC_DEFINE_WIDGET)
VC_NO_ARGUMENT_FUNCTIONS(VC_DEFINE_NO_ARGUMENT)

QJsonDocument *VC_Initialize(QWidget *)
{
    return nullptr;
}

void VC_Release(void *result)
{
    delete static_cast<QJsonDocument *>(result);
}

VC_EventCallback VC_InstallEventCallback(VC_EventType type, VC_EventCallback callback)
{
    if (type < 0 || type >= kEventTypeCount)
        return nullptr;
    QMutexLocker lock(&callbackMutex);
    VC_EventCallback previous = callbacks[type];
    callbacks[type] = callback;
    return previous;
}

int VC_WindowCount(QWidget *)
{
    return 0;
}

void VC_ShowWindow(QWidget *, int) { }

void VC_HideWindow(QWidget *, int) { }

bool VC_IsWindowHidden(QWidget *, int)
{
    return false;
}

bool VC_IsWindowPlaying(QWidget *, int)
{
    return false;
}

void VC_SetWndColor(const QString &, const QString &, const QString &, const QString &) { }
