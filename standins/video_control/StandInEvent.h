#pragma once

#include "video/VideoControl.h"

#include <QJsonObject>

class QWidget;

// An event found while the library's state lock was held, raised once it is released.
struct StandInEvent
{
    VC_EventType type;
    QWidget *widget;
    QJsonObject info;
};
