#pragma once

#include "video/VideoCommand.h"

#include <QString>
#include <QVector>

// The one table of the video commands, in the order their words are compared: what each command
// needs, the library function it calls with its shape, the step where it differs, the window's log
// line and the members that name files and addresses (checked by dispatch/PageNamedPathPolicy). The
// video dispatcher alone reads the needs and the step (video/VideoCommand.h).
const QVector<VideoCommand> &videoCommandTable();

// The first row whose word equals word (case-sensitive), or null.
const VideoCommand *findVideoCommand(const QString &word);
