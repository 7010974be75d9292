#include "transport/TransportLog.h"

Q_LOGGING_CATEGORY(lcTransport, "ls.transport")
