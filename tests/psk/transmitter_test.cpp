// The transmitted signal: a preamble of reversals, each passing through zero
// amplitude along a cosine, the text, and a postamble of steady carrier (QPSK
// flushing its code first); idle between and after overs; a new carrier taken
// over without a jump.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "PskChannel.h"
#include "PskTransmitter.h"

namespace {

using namespace rz::psk::testing;
using rz::psk::PskTransmitter;
using rz::psk::SubmodeOf;
using Audio = std::vector<int16_t>;

constexpr double kCarrierHz = 1000.0;

// The signal's complex envelope at sample `at`, over one period of the carrier.
std::complex<double> Envelope(const Audio& audio, size_t at, double hz = kCarrierHz)
{
    const int period = static_cast<int>(std::lround(rz::psk::kSampleRate / hz));
    std::complex<double> sum = 0.0;
    for (int i = 0; i < period; ++i) {
        const size_t n = at + static_cast<size_t>(i);
        sum += static_cast<double>(audio[n]) *
               std::polar(1.0, -2.0 * std::numbers::pi * hz * static_cast<double>(n) / rz::psk::kSampleRate);
    }
    return 2.0 * sum / static_cast<double>(period) / PskTransmitter::kAmplitude;
}

// The largest step between neighbouring samples, against a sine's at `hz`.
double LargestStep(const Audio& audio, double hz = kCarrierHz)
{
    double largest = 0.0;
    for (size_t i = 1; i < audio.size(); ++i)
        largest = std::max(largest, std::abs(static_cast<double>(audio[i]) - audio[i - 1]));
    return largest / (PskTransmitter::kAmplitude * 2.0 * std::sin(std::numbers::pi * hz / rz::psk::kSampleRate));
}

TEST(PskTransmitter, OverIsPreambleTextAndPostamble)
{
    for (DGPskSubmode id : {DG_PSK_BPSK31, DG_PSK_QPSK63}) {
        const rz::psk::Submode& submode = SubmodeOf(id);
        const int symbol = submode.symbolSamples;
        const Audio audio = TransmitText("e", id);
        // Reversals: zero amplitude mid-symbol, full at the ends, a cosine between.
        for (int k = 1; k < submode.preambleSymbols - 1; ++k) {
            const size_t start = static_cast<size_t>(k * symbol);
            EXPECT_NEAR(std::abs(Envelope(audio, start + symbol / 2 - 4)), 0.0, 0.05) << k;
            EXPECT_NEAR(std::abs(Envelope(audio, start + symbol / 4 - 4)), std::cos(std::numbers::pi / 4), 0.05) << k;
            EXPECT_NEAR(std::real(Envelope(audio, start - 4) * std::conj(Envelope(audio, start + symbol - 4))), -1.0,
                        0.05);
        }
        // The text ('e', a gap) and, for QPSK, the flushed code, then steady carrier.
        const int textSymbols = 2 + 2 + (submode.qpsk ? PskTransmitter::kQpskFlushSymbols : 0);
        EXPECT_EQ(audio.size(),
                  static_cast<size_t>((submode.preambleSymbols + textSymbols + submode.postambleSymbols) * symbol));
        const size_t postamble = audio.size() - static_cast<size_t>(submode.postambleSymbols * symbol);
        const std::complex<double> carrier = Envelope(audio, postamble);
        for (size_t at = postamble; at + 8 < audio.size(); at += 64)
            EXPECT_NEAR(std::abs(Envelope(audio, at) - carrier), 0.0, 0.01) << at;
        EXPECT_LT(LargestStep(audio), 1.01) << submode.name;
    }
}

TEST(PskTransmitter, IdleIsReversalsWhileOpenAndCarrierOncePostambledAndANewCarrierTakesOverWithoutAJump)
{
    PskTransmitter transmitter(SubmodeOf(DG_PSK_BPSK31), kCarrierHz, false);
    Audio idle(4096);
    transmitter.RenderIdle(idle.data(), 4096);
    EXPECT_NEAR(std::abs(Envelope(idle, 128 - 4)), 0.0, 0.05);
    EXPECT_FALSE(transmitter.HasData());
    transmitter.QueueChar(' ');
    Audio over(200000);
    int length = transmitter.Render(over.data(), 200000);
    while (transmitter.HasData())
        length += transmitter.RenderIdle(over.data() + length, 1000);
    transmitter.RenderIdle(idle.data(), 4096);
    for (int at = 0; at + 8 < 4096; at += 128)
        EXPECT_NEAR(std::abs(Envelope(idle, static_cast<size_t>(at))), 1.0, 0.01);

    // A new carrier taken over in idle.
    transmitter.RenderIdle(idle.data(), 100);
    transmitter.SetCarrier(1500.0);
    transmitter.RenderIdle(idle.data() + 100, 3996);
    EXPECT_NEAR(std::abs(Envelope(idle, 50)), 1.0, 0.05);
    EXPECT_NEAR(std::abs(Envelope(idle, 3200, 1500.0)), 1.0, 0.05);
    EXPECT_LT(LargestStep(idle, 1500.0), 1.01);
}

}  // namespace
