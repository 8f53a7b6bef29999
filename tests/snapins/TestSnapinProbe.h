// What a test snap-in records about the calls the module makes into it. A test
// that holds the snap-in loaded (so the module's loads share its copy) reads it
// through the snap-in's export "TestSnapinCalls".
#pragma once

#include <cstdint>

#include <ruzada/wintypes.h>

struct SnapinCallLog {
    int setupCalls = 0;
    HWND setupHost = nullptr;
    int funcCalls = 0;
    HWND funcHost = nullptr;
    uint32_t funcA = 0;
    uint32_t funcB = 0;
};
using PFN_TestSnapinCalls = const SnapinCallLog* (*)();

// The n-th call of InvokeDGSetup answers kSetupResultBase + n, of InvokeDGFunc7
// kFuncResultBase + n.
inline constexpr int kSetupResultBase = 100;
inline constexpr int kFuncResultBase = 700;
// The unit that fills the whole name of a snap-in built with TESTSNAPIN_LONG_NAME.
inline constexpr char16_t kLongNameUnit = u'L';
// When set, names a file to which each test snap-in appends its path as it loads.
inline constexpr char kLoadTraceVariable[] = "RUZADA_TEST_LOAD_TRACE";
