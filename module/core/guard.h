// No exception may cross an export: each export answers its fixed failure value.
#pragma once

#include <cxxabi.h>

template <class Result, class Body>
Result Guarded(Result failure, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <class Body>
void Guarded(Body&& body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}
