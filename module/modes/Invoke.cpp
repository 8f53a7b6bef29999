// Calls into the snap-ins of a mode on the host's behalf, each loaded for the one
// call only; and the two exports that forward to the current snap-in.
#include <cstdio>

#include <RUZada.h>

#include "core/Globals.h"
#include "core/Guard.h"
#include "modes/ModeFuncs.h"
#include "modes/ModeList.h"
#include "modes/ScopedLibrary.h"

namespace {

constexpr int kNotInvoked = 2;

// Calls `name` in every snap-in recorded for `mode`, front to back; the last call
// made gives the result.
template <class Fn, class Call>
int InvokeEach(uint64_t mode, const char* name, Call call)
{
    int result = kNotInvoked;
    for (const CModeRecord* record : g_ModeList.FindAll(mode)) {
        ScopedLibrary library(record->m_szPath);
        if (!library.Loaded())
            continue;
        if (const auto function = library.Find<Fn>(name))
            result = call(function);
    }
    return result;
}

}  // namespace

int InvokeRUZadaFunc(uint64_t mode, int function, uint32_t a, uint32_t b)
{
    return Guarded(kNotInvoked, [&] {
        char name[256];
        std::snprintf(name, sizeof name, "InvokeDGFunc%d", function);
        return InvokeEach<PFN_InvokeDGFunc>(mode, name,
                                            [&](PFN_InvokeDGFunc invoke) { return invoke(g_hwndHost, a, b); });
    });
}

int InvokeRUZadaSetup(uint64_t mode)
{
    return Guarded(kNotInvoked, [&] {
        return InvokeEach<PFN_InvokeDGSetup>(mode, "InvokeDGSetup",
                                             [](PFN_InvokeDGSetup invoke) { return invoke(g_hwndHost); });
    });
}

uint32_t GetDGToolbarWnd(uint32_t a, uint32_t b, uint32_t c)
{
    return Guarded(uint32_t{0}, [&] {
        const PFN_GetDGToolbar toolbar = g_ModeFuncs.GetDGToolbar;
        return toolbar ? toolbar(a, b, c) : 0u;
    });
}

uint32_t InvokeDGCommand(uint32_t command)
{
    return Guarded(uint32_t{0}, [&] {
        const PFN_DoDGCommand doCommand = g_ModeFuncs.DoDGCommand;
        return doCommand ? doCommand(command) : 0u;
    });
}
