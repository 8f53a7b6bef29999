// The PSK variants this mode carries, with what each needs on the air and in
// the receiver, at the module's 8000 samples per second.
#ifndef PSK_SUBMODE_H
#define PSK_SUBMODE_H

#include <optional>
#include <string_view>

#include <DGSnapin.h>

namespace rz::psk {

inline constexpr int kSampleRate = 8000;

struct Submode {
    DGPskSubmode id;
    const char* name;
    int symbolSamples;     // 256 at 31.25 baud, 128 at 62.5, 64 at 125
    bool qpsk;             // rate-1/2 convolutional code on four phases
    int preambleSymbols;   // reversals before the text, about a second
    int postambleSymbols;  // steady carrier after it, as long
    double afcRangeHz;     // how far from the set carrier the receiver looks

    double BaudRate() const { return static_cast<double>(kSampleRate) / symbolSamples; }
};

const Submode& SubmodeOf(DGPskSubmode id);
// By name, in any case ("BPSK31", "qpsk63"); nothing for an unknown name.
std::optional<DGPskSubmode> SubmodeNamed(std::string_view name);
// Nothing for a value that names no submode.
std::optional<DGPskSubmode> SubmodeFromValue(int value);

}  // namespace rz::psk

#endif
