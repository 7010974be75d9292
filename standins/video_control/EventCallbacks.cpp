#include "standins/video_control/EventCallbacks.h"

#include <QJsonDocument>
#include <QJsonObject>

VC_EventCallback EventCallbacks::install(VC_EventType type, VC_EventCallback callback)
{
    if (type < 0 || type >= kEventTypes)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    VC_EventCallback previous = m_callbacks[type];
    m_callbacks[type] = callback;
    return previous;
}

void EventCallbacks::raise(VC_EventType type, QWidget *widget, const QJsonObject &info)
{
    if (type < 0 || type >= kEventTypes)
        return;
    VC_EventCallback callback = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_callbacks[type];
    }
    if (!callback)
        return;
    const QJsonDocument document(info);
    callback(type, widget, &document);
}
