#include "Downconverter.h"

#include <cmath>
#include <numbers>

#include "PskSubmode.h"

namespace rz::psk {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Flat to about four symbol rates either side of the carrier (the signal's
// main lobe anywhere in the frequency range, and the noise measured beside it)
// and 70 dB down by seven: two symbols long.
constexpr double kCutoffBauds = 5.5;
// The DC blocker's pole: a corner near 6 Hz, far below any carrier.
constexpr double kDcPole = 0.995;

}  // namespace

Downconverter::Downconverter(int symbolSamples)
    : m_filter(LowPass(2 * symbolSamples, kCutoffBauds / symbolSamples)),
      m_decimation(symbolSamples / kSamplesPerSymbol),
      m_untilOutput(m_decimation)
{}

void Downconverter::SetFrequency(double hz) { m_step = kTwoPi * hz / kSampleRate; }

bool Downconverter::Push(double sample, std::complex<double>& out)
{
    const double blocked = sample - m_lastInput + kDcPole * m_lastBlocked;
    m_lastInput = sample;
    m_lastBlocked = blocked;
    m_inputPower += blocked * blocked;
    ++m_inputSamples;
    m_filter.Push(blocked * std::polar(1.0, -m_phase));
    m_phase = std::remainder(m_phase + m_step, kTwoPi);
    if (--m_untilOutput > 0)
        return false;
    m_untilOutput = m_decimation;
    out = m_filter.Output();
    return true;
}

double Downconverter::TakeInputPower()
{
    const double mean = m_inputSamples > 0 ? m_inputPower / m_inputSamples : 0.0;
    m_inputPower = 0.0;
    m_inputSamples = 0;
    return mean;
}

}  // namespace rz::psk
