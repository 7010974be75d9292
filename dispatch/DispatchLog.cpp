#include "dispatch/DispatchLog.h"

Q_LOGGING_CATEGORY(lcDispatch, "ls.dispatch")
