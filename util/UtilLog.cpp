#include "util/UtilLog.h"

Q_LOGGING_CATEGORY(lcUtil, "ls.util")
