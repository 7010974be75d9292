#pragma once

#include "base/CNoncopyable.h"

namespace Base {

// A data-less base that supplies one lazily created, process-wide instance of T.
// The instance is created on first use (a function-local static: the compiler guards the
// construction with a lock, so concurrent first calls build it once) and destroyed once at exit.
// T derives as `class T : public CSingleton<T>` and befriends CSingleton<T> if its constructor
// is private.
template <typename T>
class CSingleton : private CNoncopyable
{
public:
    static T &instance()
    {
        static T object;
        return object;
    }

protected:
    CSingleton() = default;
    ~CSingleton() = default;
};

} // namespace Base
