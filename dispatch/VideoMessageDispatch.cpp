#include "dispatch/VideoMessageDispatch.h"

VideoMessageDispatch::VideoMessageDispatch(QObject *parent)
    : ModuleDispatch(parent)
{
    // No video command is served yet: every "video." request is dropped without an answer.
    setCommands({});
}
