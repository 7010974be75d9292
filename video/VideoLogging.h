#pragma once

#include <QLoggingCategory>

// The video component bridge's diagnostics.
Q_DECLARE_LOGGING_CATEGORY(lcVideo)
