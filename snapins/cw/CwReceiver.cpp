#include "CwReceiver.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "CwTiming.h"
#include "Quantile.h"

namespace rz::cw {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Quality from how far the signal's line stands above the spectrum's median:
// white noise alone reaches about 3 dB, a clean signal 15 dB and more.
constexpr double kQualityFloorDb = 3.0;
constexpr double kQualitySpanDb = 12.0;
// The squelch opens when the quality has reached its threshold anywhere in the
// last 2.5 s: the keying read now lies one second behind the spectrum.
constexpr size_t kQualityMemory = 20;
// Mean envelope while the key is down against while it is up: keying heard in
// noise alone reaches about 2.
constexpr double kOpenContrast = 2.5;
// The power of the whole baseband (±250 Hz), key down and key up, followed over
// about two seconds: keying must take the signal's power away when the key is
// up. A frequency-shift signal (RTTY) only moves it to the other tone.
constexpr double kBandMemory = 1000.0;
constexpr double kKeyedShare = 0.5;
// The scout's filter and debounce: 16 ms and 6 ms pass any element up to 60 WPM.
constexpr int kScoutFilter = 8;
constexpr int kScoutDebounce = 3;
// The scout is trusted only where its short filter still hears the signal
// clearly, above about -6 dB SNR.
constexpr double kScoutContrast = 4.0;
constexpr double kScoutFasterBy = 0.6;
constexpr int kScoutMarksToTrust = 8;
// The key-down level over the noise's through the matched filter below which
// the reader works as in deep noise (about -11 dB SNR at 20 WPM), and above
// which it returns to the shorter filter. Where the spectrum's median is a
// strong signal's own sidebands, the key-up level tells there is no noise.
constexpr double kDeepBelow = 3.5;
constexpr double kDeepAbove = 4.5;
constexpr double kKeyUpBelow = 7.0;
constexpr double kKeyUpAbove = 9.0;
// The marks' level around a moment is the filter's 90th percentile over 0.8
// dots either side of it once the timing is known: the mark at hand, as a
// fade may take 10 dB within a dash, so that a wider window that reaches the
// stronger mark before it set the threshold too high and cut the mark short.
// Until then 1.7 dots, as the dot may still be far off. Measured every few samples.
constexpr double kAheadDots = 0.8;
constexpr double kAheadDotsUnsettled = 1.7;
constexpr double kAheadQuantile = 0.9;
constexpr int kAheadInterval = 4;
constexpr int kMaxAheadHalf = 256;
// The energy of a dot over the noise density below which the sequence decoder
// reads instead of the reader (about -10.5 dB SNR at 20 WPM), and above which
// the reader takes over again (about -9 dB).
constexpr double kDeepDotSnrBelow = 21.0;
constexpr double kDeepDotSnrAbove = 30.0;
constexpr int kDeepAfter = kBasebandRate;

}  // namespace

CwReceiver::CwReceiver(const ReceiverSettings& settings)
    : m_carrierHz(settings.carrierHz),
      m_afc(settings.afc),
      m_squelch(settings.squelch),
      m_baseband(settings.carrierHz),
      m_delay(kLookahead),
      m_aheadLevels(kLookahead + kMaxAheadHalf),
      m_reader(settings.wpm),
      m_deepReader(kLookahead, m_reader.Dot())
{
    m_scout.SetTiming(kScoutFilter, kScoutDebounce, kScoutFilter);
}

void CwReceiver::SetCarrier(double hz)
{
    m_carrierHz = hz;
    m_baseband.SetCarrier(hz);
}

void CwReceiver::SetAfc(bool on)
{
    m_afc = on;
    if (!on)
        m_offsetHz = 0.0;
}

void CwReceiver::Process(const int16_t* samples, int count)
{
    Complex baseband;
    for (int i = 0; i < count; ++i) {
        if (!m_baseband.Push(samples[i], baseband))
            continue;
        if (m_search.Push(baseband))
            OnSpectrum();
        WatchAhead(baseband);
        Complex& slot = m_delay[static_cast<size_t>(m_delayAt)];
        const Complex delayed = slot;
        slot = baseband;
        m_delayAt = (m_delayAt + 1) % kLookahead;
        if (m_delayFilled)
            OnBaseband(delayed);
        m_delayFilled = m_delayFilled || m_delayAt == 0;
    }
}

void CwReceiver::WatchAhead(Complex sample)
{
    const Complex tuned = sample * std::polar(1.0, -m_livePhase);
    m_livePhase = std::remainder(m_livePhase + kTwoPi * m_offsetHz / kBasebandRate, kTwoPi);
    m_aheadFilter.SetLength(m_reader.FilterLength());
    const int size = static_cast<int>(m_aheadLevels.size());
    m_aheadLevels[static_cast<size_t>(m_aheadAt)] = static_cast<float>(m_aheadFilter.Push(tuned));
    m_deepReader.PushAhead(tuned);
    m_aheadAt = (m_aheadAt + 1) % size;
    if (!m_delayFilled || m_aheadAt % kAheadInterval != 0)
        return;
    // The sample the detector decides next is kLookahead samples old.
    const double dots = m_reader.Settled() ? kAheadDots : kAheadDotsUnsettled;
    const int half = std::min(kMaxAheadHalf, static_cast<int>(std::lround(dots * m_reader.Dot())));
    m_window.clear();
    for (int age = kLookahead - half; age <= kLookahead + half && age < size; ++age)
        m_window.push_back(m_aheadLevels[static_cast<size_t>((m_aheadAt - 1 - age + 2 * size) % size)]);
    m_detector.SetAheadLevel(Quantile(m_window, kAheadQuantile));
}

void CwReceiver::OnSpectrum()
{
    if (m_afc)
        m_offsetHz = m_search.PeakOffsetHz();
    const double lineDb = m_search.LineDb(m_offsetHz);
    m_quality = static_cast<int>(std::clamp((lineDb - kQualityFloorDb) * 100.0 / kQualitySpanDb, 0.0, 100.0));
    m_recentQuality.push_back(m_quality);
    if (m_recentQuality.size() > kQualityMemory)
        m_recentQuality.pop_front();
    m_lineOpen = *std::max_element(m_recentQuality.begin(), m_recentQuality.end()) >= m_squelch;
}

void CwReceiver::OnBaseband(Complex sample)
{
    const Complex tuned = sample * std::polar(1.0, -m_finePhase);
    m_finePhase += kTwoPi * m_offsetHz / kBasebandRate;
    m_finePhase = std::remainder(m_finePhase, kTwoPi);

    m_detector.SetTiming(m_reader.FilterLength(), m_reader.Debounce(), static_cast<int>(m_reader.Dot()));
    // The keying is read a second behind the spectrum, which by then knows the noise.
    if (!m_started) {
        m_started = true;
        m_detector.Start(NoiseEnvelope());
    }
    if (const auto run = m_detector.Push(tuned))
        m_reader.OnRun(run->keyDown, run->samples);
    // The keying must stand out of the noise as well: a line alone may be a carrier.
    // and against the key-up level, which a carrier keeps as high as its key-down.
    // Where the signal is weak, the band must also rest at the noise between marks
    // (PSK passes the other tests there).
    FollowBand();
    m_open = m_lineOpen && m_detector.SignalLevel() > kOpenContrast * NoiseEnvelope() &&
             m_detector.SignalLevel() > kOpenContrast * m_detector.NoiseLevel() && KeyedBand() &&
             m_deepReader.KeyingRests().value_or(true);
    m_reader.SetOpen(m_open);
    const double signal = m_detector.SignalLevel();
    const bool weak = signal < kDeepBelow * NoiseEnvelope() && signal < kKeyUpBelow * m_detector.NoiseLevel();
    const bool strong = signal > kDeepAbove * NoiseEnvelope() || signal > kKeyUpAbove * m_detector.NoiseLevel();
    m_reader.SetDeepNoise(m_reader.DeepNoise() ? !strong : weak);
    m_reader.OnOngoing(m_detector.KeyDown(), m_detector.Current(), m_decoded);
    WatchScout(tuned);

    ReadDeepNoise(tuned);
    for (const char ch : m_decoded) {
        if (m_text.size() < kMaxHeldChars)
            m_text.push_back(ch);
    }
    m_decoded.clear();
}

double CwReceiver::Wpm() const
{
    return m_deep ? DotSeconds(1.0) * kBasebandRate / m_deepReader.Dot() : m_reader.Wpm();
}

void CwReceiver::ReadDeepNoise(Complex sample)
{
    // The timing learned on a clear signal; the reader's own is corrupt in deep noise.
    if (!m_deep && m_deepReader.DotSnr() > kDeepDotSnrAbove)
        m_deepReader.Follow(m_reader.Dot());
    // The keying's level against the noise and up says little here: the line
    // in the spectrum and the keyed power of the band tell whether there is keying.
    m_deepDecoded.clear();
    m_deepReader.Push(sample, m_search.NoisePower(), m_lineOpen && KeyedBand(), m_deepDecoded);
    const double snr = m_deepReader.DotSnr();
    // Noise alone is no deep noise, nor the start of a signal whose level is still being measured.
    m_weakFor = snr < kDeepDotSnrBelow && m_lineOpen ? m_weakFor + 1 : 0;
    m_deep = m_deep ? !(snr > kDeepDotSnrAbove) : m_weakFor > kDeepAfter;
    if (m_deep)
        m_decoded.swap(m_deepDecoded);
}

void CwReceiver::FollowBand()
{
    if (!m_detector.Settled())
        return;
    const double power = std::norm(m_detector.OldestInFilter());
    BandPower& band = m_detector.KeyDown() ? m_bandDown : m_bandUp;
    band.count = std::min(band.count + 1.0, kBandMemory);
    band.mean += (power - band.mean) / band.count;
}

bool CwReceiver::KeyedBand() const
{
    return m_bandDown.mean - m_bandUp.mean > kKeyedShare * (m_bandDown.mean - m_search.NoisePower());
}

double CwReceiver::NoiseEnvelope() const
{
    // The mean of the Rayleigh envelope of the noise through the matched filter.
    return std::sqrt(std::numbers::pi / 4.0 * m_search.NoisePower() / m_reader.FilterLength());
}

void CwReceiver::WatchScout(Complex sample)
{
    const auto run = m_scout.Push(sample);
    if (!run || !run->keyDown)
        return;
    const double scoutNoise = std::sqrt(std::numbers::pi / 4.0 * m_search.NoisePower() / kScoutFilter);
    if (!m_open || !(m_scout.SignalLevel() > kScoutContrast * scoutNoise)) {
        m_scoutMarks.Clear();
        return;
    }
    m_scoutMarks.Add(run->samples);
    const auto split = m_scoutMarks.Groups(2.0, 6);
    // Marks shorter than the dot of 60 WPM are no sender's: in a fade the short
    // filter passes the crumbs that noise leaves of the marks, and a restart
    // at such a speed would read every dot as a dash from then on.
    const bool faster = split && split->shortMedian < kScoutFasterBy * m_reader.Dot() &&
                        split->shortMedian >= MorseReader::kShortestDot;
    m_scoutFaster = faster ? m_scoutFaster + 1 : 0;
    if (m_scoutFaster >= kScoutMarksToTrust) {
        m_reader.Restart(split->shortMedian);
        m_scoutMarks.Clear();
        m_scoutFaster = 0;
    }
}

template <typename Char>
int CwReceiver::TakeTextAs(Char* out, int capacity)
{
    int taken = 0;
    while (taken < capacity && !m_text.empty()) {
        out[taken++] = static_cast<Char>(static_cast<unsigned char>(m_text.front()));
        m_text.pop_front();
    }
    return taken;
}

int CwReceiver::TakeText(char* out, int capacity) { return TakeTextAs(out, capacity); }

int CwReceiver::TakeText(char32_t* out, int capacity) { return TakeTextAs(out, capacity); }

}  // namespace rz::cw
