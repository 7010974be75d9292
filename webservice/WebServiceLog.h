#pragma once

#include <QLoggingCategory>

// The web service's one logging category, "ls.webservice".
Q_DECLARE_LOGGING_CATEGORY(lcWebService)
