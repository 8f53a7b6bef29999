#include "modes/ModeFuncs.h"

#include <ruzada/kernel.h>

ModeFuncs g_ModeFuncs;

namespace {
template <class Fn>
void Look(std::atomic<Fn>& entry, HMODULE library, const char* name)
{
    entry = library ? reinterpret_cast<Fn>(GetProcAddress(library, name)) : nullptr;
}
}  // namespace

void ModeFuncs::Clear() { Resolve(nullptr); }

void ModeFuncs::Resolve(HMODULE library)
{
    Look(GetDGInternalFrequency, library, "GetDGInternalFrequency");
    Look(GetDGTwiddle, library, "GetDGTwiddle");
    Look(HasDGData, library, "HasDGData");
    Look(EncodeDGDataA, library, "EncodeDGDataA");
    Look(DecodeDGDataA, library, "DecodeDGDataA");
    Look(EncodeDGDataW, library, "EncodeDGDataW");
    Look(DecodeDGDataW, library, "DecodeDGDataW");
    Look(GetDGToolbar, library, "GetDGToolbar");
    Look(DoDGCommand, library, "DoDGCommand");
    Look(LoadDGUserData, library, "LoadDGUserData");
    Look(SaveDGUserData, library, "SaveDGUserData");
}
