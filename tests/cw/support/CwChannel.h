// Shared by the CW tests and the sensitivity bench: keying as machines and
// hands send it, rendered on their own (not by the snap-in's keyer), channels
// with noise and fading, our keyer and receiver driven as the module drives
// them, and the error measure.
#ifndef CW_TEST_CHANNEL_H
#define CW_TEST_CHANNEL_H

#include <complex>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CwReceiver.h"
#include "ErrorRate.h"
#include "NoisyChannel.h"
#include "Programs.h"
#include "WavFile.h"

namespace rz::cw::testing {

inline constexpr int kDecodeBlock = 3250;
inline constexpr int kEncodeCapacity = 89999;
inline constexpr int kEncodeBatch = 19;
inline constexpr double kCarrierHz = 700.0;
// The test renderer's tone, as the keyer's: its peak, and its power while the key is down.
inline constexpr double kToneAmplitude = 20000.0;
inline constexpr double kKeyDownPower = kToneAmplitude * kToneAmplitude / 2.0;

// Every letter, figure, punctuation mark and prosign, as the receiver prints them.
inline constexpr char kEveryCharacter[] =
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 . , ? ' ! / ) : ; - _ \" $ @ <AR> <SK> <KN> <BT> <AS>";

struct Segment {
    bool keyDown;
    double seconds;
};

// How a hand sends: every element and gap off by up to ±`jitter` of its length,
// the speed drifting up by `drift` and back each minute, the dash `minRatio` to
// `maxRatio` dots long (changing slowly), marks `weight` dots longer and gaps
// between elements as much shorter.
struct Hand {
    double wpm = 20.0;
    double jitter = 0.25;
    double drift = 0.2;
    double minRatio = 2.5;
    double maxRatio = 4.0;
    double weight = 0.0;
    uint64_t seed = 1;
};
std::vector<Segment> HandKeying(const std::string& text, const Hand& hand);

// A complex gain over time in seconds; 1 is a steady channel.
using Gain = std::function<std::complex<double>(double seconds)>;

// The keying on a tone of kToneAmplitude at `carrierHz`, with 5 ms raised-cosine edges.
std::vector<int16_t> Render(const std::vector<Segment>& keying, double carrierHz, const Gain& gain = {});

// `text` through our keyer as the module sends it, in batches of 19.
std::vector<int16_t> KeyText(const std::string& text, double wpm, int farnsworthWpm = 0, double carrierHz = kCarrierHz);

// Feeds `samples` to a fresh receiver in blocks of `block` samples, then silence
// enough for the last character, and returns all text decoded.
std::string ReceiveText(const std::vector<int16_t>& samples, const ReceiverSettings& settings,
                        int block = kDecodeBlock);
// As the snap-in starts without settings: 20 WPM expected, squelch 35.
ReceiverSettings Receiver(double carrierHz = kCarrierHz, bool afc = true);

// What every mode's tests share: noise, the error measure, WAV files, other programs.
using namespace rz::test::support;

}  // namespace rz::cw::testing

#endif
