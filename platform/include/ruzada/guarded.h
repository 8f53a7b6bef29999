/* Keeps exceptions from crossing a C boundary: an export answers its fixed failure
 * value instead. A thread's cancellation is a foreign exception with no C++ type
 * and must go on unwinding, so it is rethrown. C++ only. */
#ifndef RUZADA_GUARDED_H
#define RUZADA_GUARDED_H

#include <cxxabi.h>

namespace rz {

/* Call inside catch (...). */
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

}  // namespace rz

#endif
