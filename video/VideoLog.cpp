#include "video/VideoLog.h"

Q_LOGGING_CATEGORY(lcVideo, "ls.video")
