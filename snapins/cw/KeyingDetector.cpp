#include "KeyingDetector.h"

#include <algorithm>
#include <cmath>

namespace rz::cw {

namespace {

// The noise level follows over about half a second; in a pause the signal
// level sinks towards it over about 3 s, so the threshold comes down after a
// fade or after a strong station has gone.
constexpr double kNoiseFollow = 1.0 / 250.0;
constexpr double kSignalSink = 1.0 / 1500.0;
// A change that crosses the threshold by 15 % of the distance from noise to
// signal, on average, counts after a fraction of the debounce.
constexpr double kDepthPerDebounce = 0.15;
// A gap of more than 10 dots is no gap of the text: a pause or a fade.
constexpr int kPauseDots = 10;
// The threshold lies half-way between noise and signal, with ±5 % of the
// distance as hysteresis.
constexpr double kThreshold = 0.5;
constexpr double kHysteresis = 0.05;
// Before any keying, the signal is taken for twice the noise: below what opens the squelch.
constexpr double kStartSignal = 2.0;
// One second, longer than the dash of 5 WPM.
constexpr int kLongestDown = kBasebandRate;
// The level ahead is a faded mark's only where it stands this far above the
// key-up level: in a word gap it is the noise's highest peak, which must not
// pull the threshold down.
constexpr double kAheadOverNoise = 3.0;

}  // namespace

void KeyingDetector::SetTiming(int filterLength, int debounce, int dotSamples)
{
    m_filter.SetLength(filterLength);
    m_debounce = std::max(debounce, 1);
    m_signalFollow = 1.0 / std::max(m_filter.Length(), 4);
    m_pauseSamples = kPauseDots * std::max(dotSamples, 4);
}

void KeyingDetector::Start(double noiseLevel)
{
    m_noise = noiseLevel;
    m_signal = kStartSignal * noiseLevel;
}

std::optional<KeyingDetector::Run> KeyingDetector::Push(Complex sample)
{
    const double envelope = m_filter.Push(sample);

    const bool faded = m_ahead > kAheadOverNoise * m_noise && m_ahead < m_signal;
    const double spread = (faded ? m_ahead : m_signal) - m_noise;
    const double threshold = m_noise + (kThreshold + (m_keyDown ? -kHysteresis : kHysteresis)) * spread;
    const bool down = envelope > threshold;
    ++m_current;
    std::optional<Run> ended;
    if (down != m_keyDown) {
        ++m_disagree;
        m_evidence += spread > 0.0 ? std::abs(envelope - threshold) / spread : 0.0;
    } else {
        m_disagree = 0;
        m_evidence = 0.0;
    }
    // A change counts once it has lasted long enough or gone deep enough: the
    // short but clear gap between two hand-sent elements counts, a flicker of
    // noise across the threshold does not.
    if (m_disagree >= m_debounce || (m_disagree >= 2 && m_evidence >= kDepthPerDebounce * m_debounce)) {
        // The change began when the disagreement did.
        ended = Run{m_keyDown, m_current - m_disagree};
        m_keyDown = down;
        m_current = m_disagree;
        m_disagree = 0;
        m_evidence = 0.0;
    }

    // Levels are measured once the filter holds only this run, past its edges.
    m_settled = m_current > m_filter.Length() + kBasebandSettling && m_disagree == 0;
    const bool settled = m_settled;
    if (m_keyDown && settled) {
        m_signal += m_signalFollow * (envelope - m_signal);
        // Down for longer than any element: a carrier or a noise that the noise level has to take in.
        if (m_current > kLongestDown)
            m_noise += kNoiseFollow * (envelope - m_noise);
    } else if (!m_keyDown && settled) {
        m_noise += kNoiseFollow * (envelope - m_noise);
        if (m_current > m_pauseSamples)
            m_signal += kSignalSink * (m_noise - m_signal);
    }
    if (envelope > m_signal && !m_keyDown && m_disagree > 0)
        m_signal += m_signalFollow * (envelope - m_signal);
    return ended;
}

}  // namespace rz::cw
