#include "MarkLevel.h"

#include <algorithm>
#include <cmath>

#include "Quantile.h"

namespace rz::cw {

namespace {

// Marks fill a third to a half of a text's time: this high in the window the
// envelope is that of a mark.
constexpr double kMarkShare = 0.85;
// Half the window, in dots: this many over the dot's signal-to-noise ratio,
// from 5 dots on a clear signal (the window always spans a word gap and a mark)
// to 16 in noise.
constexpr double kWindowDotsTimesSnr = 200.0;
constexpr double kFewestDots = 5.0;
constexpr double kMostDots = 16.0;

}  // namespace

MarkLevel::MarkLevel(int delay) : m_delay(delay), m_envelope(static_cast<size_t>(2 * delay + 1), 0.0) {}

void MarkLevel::SetDot(double dotSamples) { m_filter.SetLength(static_cast<int>(std::lround(dotSamples))); }

void MarkLevel::Push(Complex sample)
{
    const double envelope = m_filter.Push(sample);
    m_newest = (m_newest + 1) % m_envelope.size();
    m_envelope[m_newest] = envelope;
}

void MarkLevel::Measure(double noisePower)
{
    const int length = m_filter.Length();
    const double snr = noisePower > 0.0 ? m_keyDown * m_keyDown * length / noisePower : 0.0;
    const double dots = snr > 0.0 ? std::clamp(kWindowDotsTimesSnr / snr, kFewestDots, kMostDots) : kMostDots;
    const int halfWindow = std::min(static_cast<int>(dots * length), m_delay);
    // The filter's output lags the moment by half its length.
    const int centre = m_delay - length / 2;
    const size_t size = m_envelope.size();
    m_window.clear();
    for (int back = std::max(centre - halfWindow, 0); back <= std::min(centre + halfWindow, 2 * m_delay); ++back)
        m_window.push_back(m_envelope[(m_newest + size - static_cast<size_t>(back)) % size]);
    const double level = Quantile(m_window, kMarkShare);
    // What noise alone adds to the envelope's power is taken off.
    m_keyDown = std::sqrt(std::max(level * level - noisePower / length, 0.0));
}

}  // namespace rz::cw
