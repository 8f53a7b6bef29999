// CW audio to text: the baseband, the search for the carrier, the keying
// detector and the Morse reader in a row, keeping their state from one block of
// samples to the next. The keying is read one second behind the search, so the
// receiver is on the signal's frequency, and the squelch knows whether there
// is a signal, before the first character. In deep noise a sequence decoder
// reads instead of the Morse reader. Decoded text waits until the caller takes it.
#ifndef CW_RECEIVER_H
#define CW_RECEIVER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "Baseband.h"
#include "CarrierSearch.h"
#include "DeepNoiseReader.h"
#include "DurationGroups.h"
#include "KeyingDetector.h"
#include "MatchedFilter.h"
#include "MorseReader.h"

namespace rz::cw {

struct ReceiverSettings {
    double carrierHz;
    bool afc;
    int wpm;      // the speed expected at first
    int squelch;  // quality, 0 to 100, below which nothing is printed
};

class CwReceiver {
public:
    // Text not taken beyond this many characters is dropped, newest first.
    static constexpr size_t kMaxHeldChars = 4096;
    // How far the keying is read behind the search, in baseband samples.
    static constexpr int kLookahead = kBasebandRate;

    explicit CwReceiver(const ReceiverSettings& settings);

    void SetCarrier(double hz);
    void SetAfc(bool on);
    void SetSquelch(int quality) { m_squelch = quality; }

    void Process(const int16_t* samples, int count);

    // Moves up to `capacity` decoded characters to `out`; returns their number.
    int TakeText(char* out, int capacity);
    int TakeText(char32_t* out, int capacity);

    // Where the receiver listens now, in hertz.
    double ListeningHz() const { return m_carrierHz + m_offsetHz; }
    // Signal quality, 0 to 100, at the frequency listened to.
    int Quality() const { return m_quality; }
    // The speed heard, in words per minute.
    double Wpm() const;

private:
    template <typename Char>
    int TakeTextAs(Char* out, int capacity);
    void OnSpectrum();
    void OnBaseband(Complex sample);
    void WatchScout(Complex sample);
    void WatchAhead(Complex sample);
    void FollowBand();
    void ReadDeepNoise(Complex sample);
    bool KeyedBand() const;
    double NoiseEnvelope() const;

    double m_carrierHz;
    bool m_afc;
    int m_squelch;
    Baseband m_baseband;
    CarrierSearch m_search;
    std::vector<Complex> m_delay;
    int m_delayAt = 0;
    bool m_delayFilled = false;
    double m_offsetHz = 0.0;
    double m_finePhase = 0.0;
    int m_quality = 0;
    bool m_lineOpen = false;
    bool m_open = false;
    bool m_started = false;
    std::deque<int> m_recentQuality;
    // Mean power of the baseband samples, while the key is down and while it is up.
    struct BandPower {
        double mean = 0.0;
        double count = 0.0;
    };
    BandPower m_bandDown;
    BandPower m_bandUp;
    KeyingDetector m_detector;
    // The matched filter on the live signal, a second ahead of the detector,
    // and its recent output: how strong the marks around each moment decided are.
    MatchedFilter m_aheadFilter;
    double m_livePhase = 0.0;
    std::vector<float> m_aheadLevels;
    int m_aheadAt = 0;
    std::vector<float> m_window;
    MorseReader m_reader;
    // A short filter that keeps watching for a sender faster than the matched filter passes.
    KeyingDetector m_scout;
    DurationGroups m_scoutMarks{12};
    int m_scoutFaster = 0;
    std::string m_decoded;
    // Takes over from the reader in deep noise.
    DeepNoiseReader m_deepReader;
    std::string m_deepDecoded;
    bool m_deep = false;
    int m_weakFor = 0;
    std::deque<char> m_text;
};

}  // namespace rz::cw

#endif
