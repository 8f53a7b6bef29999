// The test snap-in: one source, built once per scenario. Compile definitions
// choose what a build is:
//   TESTSNAPIN_MASK=<n>      the mode mask GetDGSetup reports (default 0)
//   TESTSNAPIN_NAME=u"..."   its display name (default: empty)
//   TESTSNAPIN_LONG_NAME     a name filling all 256 units with no terminator, and the
//                            reserved field after it non-zero, as a careless snap-in
//                            leaves them
//   TESTSNAPIN_NO_SETUP      no GetDGSetup: a library that is not a snap-in
//   TESTSNAPIN_INVOKE        InvokeDGFunc7 and InvokeDGSetup, which record their calls
// Every build exports TestSnapinCalls (TestSnapinProbe.h) and traces its loads.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include <DGSnapin.h>

#include "TestSnapinProbe.h"

#ifndef TESTSNAPIN_MASK
#define TESTSNAPIN_MASK 0
#endif
#ifndef TESTSNAPIN_NAME
#define TESTSNAPIN_NAME u""
#endif

namespace {

SnapinCallLog g_calls;

[[gnu::constructor]] void TraceLoad()
{
    const char* trace = std::getenv(kLoadTraceVariable);
    Dl_info self{};
    if (!trace || !dladdr(reinterpret_cast<const void*>(&TraceLoad), &self))
        return;
    if (FILE* file = std::fopen(trace, "a")) {
        std::fprintf(file, "%s\n", self.dli_fname);
        std::fclose(file);
    }
}

}  // namespace

DG_SNAPIN_EXPORT const SnapinCallLog* TestSnapinCalls() { return &g_calls; }

#ifndef TESTSNAPIN_NO_SETUP
DG_SNAPIN_EXPORT void GetDGSetup(DGSETUP* setup)
{
    setup->qwMode = TESTSNAPIN_MASK;
#ifdef TESTSNAPIN_LONG_NAME
    std::fill_n(setup->szName, sizeof setup->szName / sizeof(char16_t), kLongNameUnit);
    setup->dwReserved1 = 0x00580058;
#else
    constexpr char16_t name[] = TESTSNAPIN_NAME;
    std::copy_n(name, std::size(name), setup->szName);
#endif
}
#endif

#ifdef TESTSNAPIN_INVOKE
DG_SNAPIN_EXPORT int InvokeDGFunc7(HWND host, uint32_t a, uint32_t b)
{
    g_calls.funcHost = host;
    g_calls.funcA = a;
    g_calls.funcB = b;
    return kFuncResultBase + ++g_calls.funcCalls;
}

DG_SNAPIN_EXPORT int InvokeDGSetup(HWND host)
{
    g_calls.setupHost = host;
    return kSetupResultBase + ++g_calls.setupCalls;
}
#endif
