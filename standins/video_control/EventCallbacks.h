#pragma once

#include "video/VideoControl.h"

#include <mutex>

class QJsonObject;
class QWidget;

// The callbacks installed per event type. raise() calls one with no lock held. Any thread.
class EventCallbacks
{
public:
    // Registers callback for type; answers the one registered before (null for an unknown type).
    VC_EventCallback install(VC_EventType type, VC_EventCallback callback);
    void raise(VC_EventType type, QWidget *widget, const QJsonObject &info);

private:
    static constexpr int kEventTypes = 13;

    std::mutex m_mutex; // guards m_callbacks
    VC_EventCallback m_callbacks[kEventTypes] = {};
};
