#include "TransmitFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rz::rtty {

namespace {

// Pass the tones and two baud beyond them; stop from three and a half baud
// beyond them, 60 dB down (a Kaiser window's β and length for that).
constexpr double kPassBauds = 2.0;
constexpr double kStopBauds = 3.5;
constexpr double kStopDb = 60.0;
constexpr double kKaiserBeta = 0.1102 * (kStopDb - 8.7);

double Sinc(double x) { return x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x); }

}  // namespace

TransmitFilter::TransmitFilter(Tones tones, double bitSamples)
    : m_taps(Design(tones, bitSamples)), m_history(2 * m_taps.size(), 0.0)
{}

void TransmitFilter::Retune(Tones tones, double bitSamples)
{
    std::vector<double> taps = Design(tones, bitSamples);
    // The newest inputs, oldest first, as many as the new filter holds.
    const size_t length = m_taps.size();
    const size_t kept = std::min(length, taps.size());
    std::vector<double> history(2 * taps.size(), 0.0);
    for (size_t i = 0; i < kept; ++i)
        history[taps.size() - kept + i] = history[2 * taps.size() - kept + i] = m_history[m_next + length - kept + i];
    m_taps = std::move(taps);
    m_history = std::move(history);
    m_next = 0;
}

std::vector<double> TransmitFilter::Design(Tones tones, double bitSamples)
{
    std::vector<double> taps;
    const double baudHz = kSampleRate / bitSamples;
    const double halfShift = std::abs(tones.markHz - tones.spaceHz) / 2.0;
    const double centre = (tones.markHz + tones.spaceHz) / 2.0;
    const double transition = 2.0 * std::numbers::pi * (kStopBauds - kPassBauds) * baudHz / kSampleRate;
    const int half = static_cast<int>(std::ceil((kStopDb - 8.0) / (2.285 * transition) / 2.0));
    const double cutoff = (halfShift + (kPassBauds + kStopBauds) / 2.0 * baudHz) / kSampleRate;
    const double windowNorm = std::cyl_bessel_i(0.0, kKaiserBeta);
    for (int n = -half; n <= half; ++n) {
        const double r = static_cast<double>(n) / half;
        const double window = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - r * r)) / windowNorm;
        // A low-pass of the channel's half width, moved up to the centre.
        const double lowPass = 2.0 * cutoff * Sinc(2.0 * cutoff * n) * window;
        taps.push_back(2.0 * lowPass * std::cos(2.0 * std::numbers::pi * centre * n / kSampleRate));
    }
    return taps;
}

double TransmitFilter::Process(double sample)
{
    const size_t length = m_taps.size();
    m_history[m_next] = m_history[m_next + length] = sample;
    m_next = m_next + 1 == length ? 0 : m_next + 1;
    // m_history[m_next .. m_next + length) holds the inputs, oldest first; the
    // taps are symmetric.
    const double* window = &m_history[m_next];
    double sum = 0.0;
    for (size_t i = 0; i < length; ++i)
        sum += m_taps[i] * window[i];
    return sum;
}

void TransmitFilter::Clear() { std::fill(m_history.begin(), m_history.end(), 0.0); }

}  // namespace rz::rtty
