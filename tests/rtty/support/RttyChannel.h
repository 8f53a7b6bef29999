// Shared by the RTTY tests and the sensitivity bench: our transmitter and
// receiver driven as the module drives them, a noisy channel, and the error measure.
#ifndef RTTY_TEST_CHANNEL_H
#define RTTY_TEST_CHANNEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "ErrorRate.h"
#include "NoisyChannel.h"
#include "RttyTiming.h"
#include "RttyTones.h"

namespace rz::rtty::testing {

inline constexpr Tones kDefaultTones{kDefaultMarkHz, kDefaultMarkHz - kDefaultShiftHz};
inline constexpr int kDecodeBlock = 3250;
inline constexpr int kEncodeCapacity = 89999;
inline constexpr int kEncodeBatch = 19;

// Every letter, every figure (the bell included), space, CR and LF.
inline constexpr char kEveryCharacter[] =
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG\r\n0123456789 -?:$!&#()\".,/;'\a\r\nEND 73 K\n";

// One over: lead-in, `text` in batches of 19 characters, then `idleSamples` of
// idle (the tail first).
std::vector<int16_t> TransmitText(const std::string& text, Tones tones, int idleSamples, BitTiming timing = {});

// Feeds `samples` to a fresh receiver in blocks of `block` samples, then enough
// silence for the last character's decision, and returns all text decoded.
std::string ReceiveText(const std::vector<int16_t>& samples, Tones tones = kDefaultTones, int block = kDecodeBlock,
                        BitTiming timing = {}, bool unshiftOnSpace = true);

// The shared noisy channel and error rate, under the names the RTTY and PSK
// suites and benches use.
using rz::test::support::AddNoise;
using rz::test::support::CharacterErrorRate;

}  // namespace rz::rtty::testing

#endif
