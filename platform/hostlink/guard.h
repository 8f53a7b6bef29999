// No exception may cross an export of the host link, but a thread's cancellation
// must still unwind through it.
#pragma once

#include <cxxabi.h>

namespace rz::hostlink {

template <class Result, class Body>
Result Guarded(Result failure, Body&& body)
{
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return failure;
    }
}

template <class Body>
void Guarded(Body&& body)
{
    try {
        body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}

}  // namespace rz::hostlink
