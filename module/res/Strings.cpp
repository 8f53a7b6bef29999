#include "res/Strings.h"

#include <iterator>

namespace {
constexpr StringTableEntry kStrings[] = {
    {149, "Port Already Active"},
    {150, "Cannot create Overlapped read event"},
    {151, "Cannot create Overlapped write event"},
    {152, "Port is not available"},
    {153, "Com Port has no data"},
    {3000, "PSK"},
    {3001, "MT63"},
    {3002, "MFSK"},
    {3003, "THROB"},
    {3004, "CW"},
    {3005, "RTTY"},
    {3006, "ASCII"},
    {3007, "FEC (AMTOR)"},
    {3008, "AMTOR"},
    {3009, "FEC (PACTOR)"},
    {3010, "PACTOR"},
    {3011, "FEC (GTOR)"},
    {3012, "GTOR"},
    {3013, "PACTOR 2"},
    {3014, "PACTOR 3"},
    {3015, "Clover"},
    {3016, "NAVREX"},
    {3017, "SSTV"},
    {3100, "Unknown"},
};
}

void RegisterModuleStrings(HMODULE module) { RegisterStringTable(module, kStrings, std::size(kStrings)); }

void UnregisterModuleStrings(HMODULE module) { UnregisterStringTable(module); }
