#include "PskSubmode.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace rz::psk {

namespace {

// The preamble and postamble lengths are those other PSK programs send, so
// that their decoders switch on and off at the same points.
constexpr std::array<Submode, 5> kSubmodes = {{
    {DG_PSK_BPSK31, "BPSK31", 256, false, 32, 32, 25.0},
    {DG_PSK_BPSK63, "BPSK63", 128, false, 64, 64, 50.0},
    {DG_PSK_BPSK125, "BPSK125", 64, false, 128, 128, 100.0},
    {DG_PSK_QPSK31, "QPSK31", 256, true, 32, 32, 25.0},
    {DG_PSK_QPSK63, "QPSK63", 128, true, 64, 64, 50.0},
}};

bool SameLetters(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

}  // namespace

const Submode& SubmodeOf(DGPskSubmode id)
{
    const auto found = std::ranges::find(kSubmodes, id, &Submode::id);
    return found != kSubmodes.end() ? *found : kSubmodes.front();
}

std::optional<DGPskSubmode> SubmodeNamed(std::string_view name)
{
    for (const Submode& submode : kSubmodes)
        if (SameLetters(submode.name, name))
            return submode.id;
    return std::nullopt;
}

std::optional<DGPskSubmode> SubmodeFromValue(int value)
{
    for (const Submode& submode : kSubmodes)
        if (submode.id == value)
            return submode.id;
    return std::nullopt;
}

}  // namespace rz::psk
