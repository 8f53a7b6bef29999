// SetRUZada and GetRUZada: the current mode, its snap-in library and its entry
// points. Above the sound card, which a new mode may have to reopen.
#include <RUZada.h>

#include "audio/SoundControl.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Guard.h"
#include "core/ModeBusy.h"
#include "modes/ModeFuncs.h"
#include "modes/ModeList.h"

namespace {

// Loads the record's library as the current mode and resolves its entry points.
// Returns whether the card must be reopened because the mode takes it back from
// one that ran without it. The caller holds g_csMode.
bool MakeCurrent(uint64_t mask, double rate)
{
    const CModeRecord* record = g_ModeList.Find(mask);
    if (!record) {
        g_ModeFuncs.Clear();
        g_qwCurrentMode = 0;
        return false;
    }
    HMODULE library = LoadLibraryA(record->m_szPath);
    g_hModeLib = library;
    if (library) {
        if (auto init = reinterpret_cast<PFN_InitRUZada>(GetProcAddress(library, "InitRUZada")))
            init(rate);
        g_ModeFuncs.Resolve(library);
    } else {
        g_ModeFuncs.Clear();
    }
    const bool reopen = g_bNoSoundCard && !record->m_Setup.bNoSoundCard && rate > 0.0;
    g_bNoSoundCard = record->m_Setup.bNoSoundCard;
    g_qwCurrentMode = library ? mask : 0;
    return reopen;
}

}  // namespace

uint64_t SetRUZada(uint64_t mask)
{
    return Guarded(g_qwCurrentMode.load(), [&] {
        const uint64_t previous = g_qwCurrentMode;
        if (mask == previous)
            return previous;
        const CModeBusy busy;
        if (mask != 0 && (mask & ~EnumRUZadas()) != 0)
            return previous;
        bool reopen = false;
        double rate = 0.0;
        {
            CScopedLock mode(&g_csMode);
            if (HMODULE old = g_hModeLib.exchange(nullptr))
                FreeLibrary(old);
            if (mask == 0) {
                g_ModeFuncs.Clear();
                g_bNoSoundCard = 0;
                g_qwCurrentMode = 0;
            } else {
                rate = GetDGFreq();
                reopen = MakeCurrent(mask, rate);
            }
        }
        // SetDGFreq takes g_csSendQueue, which must never be taken inside g_csMode.
        if (reopen)
            ReopenSoundCard(rate);
        return previous;
    });
}

uint64_t GetRUZada(void) { return g_qwCurrentMode; }
