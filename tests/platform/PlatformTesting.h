// Readable descriptors and call outcomes shared by the platform tests.
#pragma once

#include <poll.h>

#include <cstdint>
#include <ostream>
#include <type_traits>

#include "SuiteHelpers.h"

namespace rz::test::platform {

using namespace rz::test::support;
using Clock = std::chrono::steady_clock;

inline bool Readable(int fd, std::chrono::milliseconds wait = 0ms)
{
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(wait.count())) == 1 && (entry.revents & POLLIN);
}

// What a call answered and the last error it left.
struct Outcome {
    intptr_t result;
    DWORD error;
    bool operator==(const Outcome&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Outcome& o)
    {
        return out << o.result << " with error " << o.error;
    }
};

// Runs `call` with the last error cleared first.
template <class Call>
Outcome Attempt(Call call)
{
    SetLastError(0);
    const auto result = call();
    const DWORD error = GetLastError();
    if constexpr (std::is_pointer_v<decltype(result)>)
        return {reinterpret_cast<intptr_t>(result), error};
    else
        return {static_cast<intptr_t>(result), error};
}

}  // namespace rz::test::platform
