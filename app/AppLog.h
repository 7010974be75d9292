#pragma once

#include <QLoggingCategory>

// The service entry's one logging category, "ls.app".
Q_DECLARE_LOGGING_CATEGORY(lcApp)
