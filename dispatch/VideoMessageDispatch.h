#pragma once

#include "dispatch/ModuleDispatch.h"

// Commands of the module word "video": one row per command word, each forwarding to the video library
// through the session's plug-in window and answering in the video form (indented JSON).
class VideoMessageDispatch : public ModuleDispatch
{
    Q_OBJECT

public:
    explicit VideoMessageDispatch(QObject *parent = nullptr);
};
