#pragma once
// The contract of the closed point-list library (slf): one plain function that reads the points of a
// file into a reply area the caller provides.

#include <QtGlobal>

#include <cstdint>

#if defined(Q_OS_WIN)
#if defined(SLF_BUILD)
#define SLF_API __declspec(dllexport)
#else
#define SLF_API __declspec(dllimport)
#endif
#else
#define SLF_API __attribute__((visibility("default")))
#endif

// One point, 20 bytes, little-endian floats in this order.
struct SlfPoint
{
    float x;
    float y;
    float p;
    float t;
    float z;
};
static_assert(sizeof(SlfPoint) == 20, "an slf point record is 20 bytes");

// The reply area: the number of points the file holds (which may be more than fit), then room for
// kSlfMaxPoints records. The caller zeroes it before the call.
constexpr int kSlfMaxPoints = 500;
struct SlfReplyArea
{
    std::uint32_t count;
    SlfPoint points[kSlfMaxPoints];
};
static_assert(sizeof(SlfReplyArea) == 4 + 20 * kSlfMaxPoints, "the slf reply area is 10004 bytes");

// filePath and key are zero-terminated UTF-8. Returns 1 on success; any other value is a failure.
extern "C" SLF_API int ORVSLF_WebProcess(const char *filePath, const char *key, SlfReplyArea *reply);
