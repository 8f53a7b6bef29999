#include "DeepNoiseReader.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "CwTiming.h"
#include "MorseCode.h"

namespace rz::cw {

namespace {

// The level is measured every few samples.
constexpr int kMeasureInterval = 8;
constexpr double kSnrRise = 2.0 * kMeasureInterval / kBasebandRate;
constexpr double kSnrFall = kMeasureInterval / (3.0 * kBasebandRate);
// The probes listen this much slower and faster.
constexpr double kProbeRatio = 1.15;
// A probe's lead in log-likelihood is forgotten over about 170 dots (ten
// seconds at 20 WPM); one that gains this much moves the speed.
constexpr double kLeadMemorySteps = 4.0 * 170.0;
constexpr double kLeadToMove = 8.0;
// The steps stay a quarter dot give or take this much, else the decoders start again.
constexpr double kStepReach = 1.3;
// On a signal this clear the reader prints and the decoders rest; they start
// again as it weakens, seconds before they are needed.
constexpr double kRestAbove = 48.0;
// Text has dots in about half its elements. Over this many elements, a share
// far below means every dot reads as a dash (the dot is far too short), far
// above, the other way round; the probes would walk back a step at a time.
constexpr double kElementMemory = 40.0;
constexpr double kFewestDots = 0.1;
constexpr double kMostDots = 0.95;
constexpr double kLostBy = 2.5;
constexpr double kMinDot = DotSeconds(kMaxWpm) * kBasebandRate;
// The level the band rests at, as a share of the key-down power, above which
// what is heard is no keying: CW reaches 0.3 at -20 dB SNR, BPSK31 and a
// steady carrier stay near 0.4 to 0.6.
constexpr double kMostAtRest = 0.3;
constexpr double kMaxDot = DotSeconds(kMinWpm) * kBasebandRate;

}  // namespace

DeepNoiseReader::DeepNoiseReader(int delay, double dotSamples) : m_level(delay), m_dot(dotSamples)
{
    Restart(dotSamples);
}

void DeepNoiseReader::Restart(double dotSamples)
{
    dotSamples = std::clamp(dotSamples, kMinDot, kMaxDot);
    for (SequenceDecoder& decoder : m_decoders) {
        decoder.Reset();
        decoder.SetTiming(StandardTimes(dotSamples));
    }
    m_stepSum = Complex();
    m_stepCount = 0;
    m_dotShare = 0.5;
    m_elementsSeen = 0;
    SetDot(dotSamples);
}

void DeepNoiseReader::SetDot(double dotSamples)
{
    m_dot = std::clamp(dotSamples, kMinDot, kMaxDot);
    for (size_t i = 0; i < m_decoders.size(); ++i)
        m_decoders[i].SetDurations(StandardTimes(DotOf(i)));
    StartComparing();
}

void DeepNoiseReader::MoveTo(size_t probe)
{
    // The probe prints from now on, the decoder that printed listens on the
    // other side, and a copy of the new one listens further on this side: each
    // keeps the path it has weighed at its own speed.
    const size_t other = m_decoders.size() - probe;
    m_dot = DotOf(probe);
    std::swap(m_decoders[0], m_decoders[probe]);
    std::swap(m_decoders[probe], m_decoders[other]);
    m_decoders[probe] = m_decoders[0];
    m_decoders[probe].SetDurations(StandardTimes(DotOf(probe)));
    StartComparing();
}

double DeepNoiseReader::DotOf(size_t decoder) const
{
    if (decoder == 0)
        return m_dot;
    return std::clamp(decoder == 1 ? m_dot * kProbeRatio : m_dot / kProbeRatio, kMinDot, kMaxDot);
}

void DeepNoiseReader::StartComparing()
{
    m_level.SetDot(m_dot);
    m_quiet.SetDot(m_dot);
    for (size_t i = 0; i < m_decoders.size(); ++i)
        m_lastScores[i] = m_decoders[i].BestScore();
    m_leads.fill(0.0);
}

void DeepNoiseReader::Follow(double dotSamples)
{
    if (dotSamples > kProbeRatio * m_dot || m_dot > kProbeRatio * dotSamples)
        Restart(dotSamples);
}

void DeepNoiseReader::Push(Complex sample, double noisePower, bool open, std::string& text)
{
    if (++m_measureCount >= kMeasureInterval) {
        m_measureCount = 0;
        m_level.Measure(noisePower);
        // Followed fast up, when a signal comes, and slowly down: the level
        // sinks in word gaps, which say nothing of the signal.
        if (noisePower > 0.0) {
            const double snr = m_level.KeyDown() * m_level.KeyDown() * m_dot / noisePower;
            m_dotSnr += (snr > m_dotSnr ? kSnrRise : kSnrFall) * (snr - m_dotSnr);
        }
        m_levelAtRest = m_quiet.LevelAtRest(noisePower, m_level.KeyDown());
    }
    // Keying rests at the noise between its marks; PSK and carriers never do,
    // and the line and the keyed power of the band hardly tell them apart here.
    open = open && m_levelAtRest && *m_levelAtRest < kMostAtRest;
    if (m_dotSnr > kRestAbove) {
        m_resting = true;
        return;
    }
    if (m_resting) {
        m_resting = false;
        Restart(m_dot);
    }
    m_stepSum += sample;
    if (++m_stepCount < m_decoders[0].StepSamples())
        return;
    const DecoderStep step{m_stepSum, m_stepCount, m_level.KeyDown(), noisePower, open};
    m_stepSum = Complex();
    m_stepCount = 0;
    m_chars.clear();
    m_decoders[0].Push(step, m_chars);
    for (size_t i = 1; i < m_decoders.size(); ++i) {
        m_probeChars.clear();
        m_decoders[i].Push(step, m_probeChars);
    }
    Print(text);
    CompareSpeeds(open);
}

std::optional<bool> DeepNoiseReader::KeyingRests() const
{
    if (!m_levelAtRest || m_dotSnr > kRestAbove)
        return std::nullopt;
    return *m_levelAtRest < kMostAtRest;
}

void DeepNoiseReader::CompareSpeeds(bool open)
{
    std::array<double, 3> gains{};
    for (size_t i = 0; i < m_decoders.size(); ++i) {
        gains[i] = m_decoders[i].BestScore() - m_lastScores[i];
        m_lastScores[i] = m_decoders[i].BestScore();
    }
    // Noise alone would walk the speed anywhere.
    if (!open)
        return;
    for (size_t i = 1; i < m_decoders.size(); ++i) {
        m_leads[i] += gains[i] - gains[0] - m_leads[i] / kLeadMemorySteps;
        if (m_leads[i] < kLeadToMove)
            continue;
        const double dot = DotOf(i);
        const double step = m_decoders[0].StepSamples();
        if (dot / step > 4.0 * kStepReach || dot / step < 4.0 / kStepReach)
            Restart(dot);
        else
            MoveTo(i);
        return;
    }
}

void DeepNoiseReader::Print(std::string& text)
{
    for (const DecodedChar& decoded : m_chars) {
        // Characters heard while the squelch was closed are noise; what follows is a new word.
        if (!decoded.open) {
            m_spacePending = m_printedAny;
            continue;
        }
        if ((decoded.afterWordGap || m_spacePending) && m_printedAny)
            text += ' ';
        text += decoded.text;
        CheckElements(decoded.text);
        m_printedAny = true;
        m_spacePending = false;
    }
}

void DeepNoiseReader::CheckElements(std::string_view text)
{
    if (text.size() != 1)
        return;
    for (const char element : PatternFor(static_cast<unsigned char>(text[0]))) {
        m_dotShare += ((element == '.' ? 1.0 : 0.0) - m_dotShare) / kElementMemory;
        ++m_elementsSeen;
    }
    if (m_elementsSeen < kElementMemory)
        return;
    if (m_dotShare < kFewestDots)
        Restart(m_dot * kLostBy);
    else if (m_dotShare > kMostDots)
        Restart(m_dot / kLostBy);
}

}  // namespace rz::cw
