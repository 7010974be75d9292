#pragma once

namespace Base {

// A base that forbids copying and moving; derive privately or publicly.
class CNoncopyable
{
protected:
    CNoncopyable() = default;
    ~CNoncopyable() = default;

public:
    CNoncopyable(const CNoncopyable &) = delete;
    CNoncopyable &operator=(const CNoncopyable &) = delete;
};

} // namespace Base
