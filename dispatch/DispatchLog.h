#pragma once

#include <QLoggingCategory>

// The command dispatchers' diagnostics.
Q_DECLARE_LOGGING_CATEGORY(lcDispatch)
