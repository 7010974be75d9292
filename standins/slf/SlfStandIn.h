#pragma once
// The stand-in for the point-list library (video/SlfLibrary.h). Its point files are UTF-8 text:
//
//   SLF1 <key>              first line: the format word and the key that opens the file
//   # a comment             lines starting with '#', and empty lines, are skipped
//   <x> <y> <p> <t> <z>     one point a line: five decimal numbers separated by blanks
//
// ORVSLF_WebProcess answers 1 when the key matches and every point line is well formed. The count is
// the number of point lines in the file; the first 500 of them are written to the reply area.
// Failures: 0 the key does not match, -1 the file cannot be opened or is not a regular file (a FIFO, a
// device, a directory, or a symbolic link as the last part of the path), -2 the file is not in this format
// (first line, or a point line), -3 the file is larger than kSlfMaxFileBytes.

constexpr long long kSlfMaxFileBytes = 16 * 1024 * 1024;
