#pragma once

#include <QString>

// Creates a file that did not exist, without following a symbolic link anywhere on the way: every folder
// of the path is opened relative to the one before it without following links, and the file is created
// exclusively in the last. Missing folders are refused, not made. Answers the open descriptor (write only,
// closed on exec), or -1.
int createNewFile(const QString &path);

// Writes all of data to a descriptor; answers whether everything was written.
bool writeAll(int descriptor, const char *data, long long size);
