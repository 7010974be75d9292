#pragma once

#include <QString>

// Claims the named single-instance marker, a shared-memory segment of 100 bytes held until the process
// exits. True when this process now owns it; false when another instance holds it or creation failed.
// The name is fixed by the first call.
bool claimSingleInstance(const QString &instanceName);
