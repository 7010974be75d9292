#pragma once

#include <QLoggingCategory>

// The utilities' diagnostics: the image channel's codec and its bitmap file.
Q_DECLARE_LOGGING_CATEGORY(lcUtil)
