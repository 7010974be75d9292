#pragma once

class NativeDesktop;

// The elevation step: an administrator goes on at once; anyone else asks for an elevated copy of this
// executable. Returns true when one was started: this process must then end with exit code 1. Refusal and
// failure are logged for two causes and otherwise ignored. On Linux the step only logs: the service runs
// as the user of the session that started it.
bool enablePrivileges(NativeDesktop &desktop);
