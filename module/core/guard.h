// No exception may cross an export: each export answers its fixed failure value.
// Only a thread's cancellation passes, as it must.
#pragma once

#include <cxxabi.h>

// Call inside catch (...): a thread's cancellation is a foreign exception (no C++
// type) and must go on unwinding.
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
