#pragma once

#include <QLoggingCategory>

// The transport's one logging category, "ls.transport".
Q_DECLARE_LOGGING_CATEGORY(lcTransport)
