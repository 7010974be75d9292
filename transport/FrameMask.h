#pragma once

#include <QtGlobal>

#include <cstddef>

// Copies count bytes from src to dst, XORing byte i with key[(phase + i) % 4] (RFC 6455 section 5.3):
// masking and unmasking are the same operation. phase is the position in the key of src[0], so a
// frame's payload can be handled piece by piece. dst and src may be the same but must not overlap
// otherwise.
void maskCopy(char *dst, const char *src, std::size_t count, const quint8 key[4], quint32 phase);
