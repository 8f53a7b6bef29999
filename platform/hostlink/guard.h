// No exception may cross an export of the host link, but a thread's cancellation
// must still unwind through it.
#pragma once

#include <cxxabi.h>

namespace rz::hostlink {

// Call inside catch (...): a thread's cancellation is a foreign exception (no C++
// type) and must go on unwinding. Binding it to a reference upsets UBSan.
inline void RethrowCancellation()
{
    if (!abi::__cxa_current_exception_type())
        throw;
}

template <class Result, class Body>
Result Guarded(Result failure, Body&& body)
{
    try {
        return body();
    } catch (...) {
        RethrowCancellation();
        return failure;
    }
}

template <class Body>
void Guarded(Body&& body)
{
    try {
        body();
    } catch (...) {
        RethrowCancellation();
    }
}

}  // namespace rz::hostlink
