#pragma once

#include <QLoggingCategory>

// The window folder's diagnostics: the registry, the plug-in windows and their tracking of the browser.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
