// Reads Morse where the keying is too deep in noise to cut into elements one by
// one: the sequence decoder weighs whole characters, given the key-down level
// measured around each moment and the noise, at the sender's timing learned
// while the signal was clear. In steps of a quarter dot, its decisions come a
// dozen dots late at the most. The threshold reader's timing is not to be
// trusted there, so two more decoders listen at a slower and a faster dot on
// the same steps; one that explains the signal clearly better for some
// seconds moves the speed to its own.
#ifndef CW_DEEP_NOISE_READER_H
#define CW_DEEP_NOISE_READER_H

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Baseband.h"
#include "MarkLevel.h"
#include "QuietBand.h"
#include "SequenceDecoder.h"

namespace rz::cw {

class DeepNoiseReader {
public:
    // The moment read lies `delay` baseband samples behind the newest one.
    DeepNoiseReader(int delay, double dotSamples);

    // The sender's dot as heard on a clear signal; a new one restarts the
    // decoders where it differs by more than the speed probes reach.
    void Follow(double dotSamples);
    // The newest sample, tuned to the signal, `delay` ahead of the one read.
    void PushAhead(Complex sample)
    {
        m_level.Push(sample);
        m_quiet.Push(sample);
    }
    // The sample read now, the noise power of one sample, and whether the
    // squelch is open; appends the characters decided, with their spaces.
    void Push(Complex sample, double noisePower, bool open, std::string& text);

    double Dot() const { return m_dot; }
    // The energy of a dot over the noise's power density, followed over seconds.
    double DotSnr() const { return m_dotSnr; }
    // Whether the band near the carrier rests at the noise between marks, as
    // keying does; none until some seconds are heard, nor on a clear signal.
    std::optional<bool> KeyingRests() const;

private:
    void Restart(double dotSamples);
    void SetDot(double dotSamples);
    void MoveTo(size_t probe);
    // The dot the decoder listens at: the printing one's, a probe's slower or faster.
    double DotOf(size_t decoder) const;
    void StartComparing();
    void CompareSpeeds(bool open);
    void Print(std::string& text);
    void CheckElements(std::string_view text);

    MarkLevel m_level;
    QuietBand m_quiet;
    std::optional<double> m_levelAtRest;
    // The decoder that prints, then the slower and the faster probe.
    std::array<SequenceDecoder, 3> m_decoders;
    std::array<double, 3> m_lastScores{};
    std::array<double, 3> m_leads{};
    double m_dot;
    Complex m_stepSum;
    int m_stepCount = 0;
    int m_measureCount = 0;
    std::vector<DecodedChar> m_chars;
    std::vector<DecodedChar> m_probeChars;
    bool m_printedAny = false;
    // The share of dots among the elements printed lately, and how many count.
    double m_dotShare = 0.5;
    int m_elementsSeen = 0;
    bool m_spacePending = false;
    double m_dotSnr = 0.0;
    bool m_resting = false;
};

}  // namespace rz::cw

#endif
