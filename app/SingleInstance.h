#pragma once

#include <QString>

// Claims the named single-instance marker, held until the process exits: on Windows a shared-memory
// segment of 100 bytes keyed by the name, on Unix a locked file in the temp folder named after it and the
// user. True when this process now owns it; false when another instance holds it or creation failed. The
// name is fixed by the first call.
bool claimSingleInstance(const QString &instanceName);

// Whether some process holds the named marker now. Takes nothing: the marker stays free for a claim.
bool isSingleInstanceHeld(const QString &instanceName);
