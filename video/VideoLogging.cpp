#include "video/VideoLogging.h"

Q_LOGGING_CATEGORY(lcVideo, "ls.video")
