#pragma once

#include "tests/platform/DesktopScript.h"

#include <optional>
#include <sstream>
#include <string>
#include <vector>

// Collects the differences between what a scenario read back and what it expected.
class Expect
{
public:
    template <typename T> void equal(const T &actual, const T &expected, const std::string &what)
    {
        if (!(actual == expected))
            failures.push_back(what + ": got " + describe(actual) + ", expected " + describe(expected));
    }
    void isTrue(bool condition, const std::string &what)
    {
        if (!condition)
            failures.push_back(what);
    }

    static std::string describe(bool value) { return value ? "true" : "false"; }
    static std::string describe(int value) { return std::to_string(value); }
    static std::string describe(NativeHandle value) { return "#" + std::to_string(value); }
    static std::string describe(const NativeRect &rect);
    static std::string describe(const NativePoint &point);
    static std::string describe(const NativeMonitor &monitor);
    static std::string describe(const std::u16string &text);
    static std::string describe(const std::vector<NativeHandle> &handles);
    template <typename T> static std::string describe(const std::optional<T> &value)
    {
        return value ? describe(*value) : "none";
    }

    std::vector<std::string> failures;
};

struct DesktopScenario
{
    const char *name;
    void (*run)(DesktopScript &script, Expect &expect);
    bool memoryOnly; // needs scripting that only the in-memory desktop has
};

// The scenarios, each on a fresh desktop (the Win32 run destroys its windows after each).
const std::vector<DesktopScenario> &desktopScenarios();

// Whether two lists of rectangles cover the same pixels.
bool sameArea(const std::vector<NativeRect> &a, const std::vector<NativeRect> &b);
