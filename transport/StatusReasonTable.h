#pragma once

#include <QByteArray>

// The reason phrase of each known status code, built once on first use and only read afterwards,
// so every thread may share it.
class StatusReasonTable
{
public:
    // The phrase for the code; empty for a code the table does not know.
    static QByteArray phrase(int statusCode);
    static int size();
};
