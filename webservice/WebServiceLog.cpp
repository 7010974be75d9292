#include "webservice/WebServiceLog.h"

Q_LOGGING_CATEGORY(lcWebService, "ls.webservice")
