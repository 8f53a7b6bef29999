// Prints the character error rate of the RTTY receiver and of minimodem on the
// same noisy recordings: a 500-character message from our transmitter, on the
// set tones and 20 Hz above them, and fldigi's 45-baud transmission of its first
// four lines (tests/rtty/data); white Gaussian noise from a fixed seed, SNR from
// +6 to -12 dB in 1 dB steps. A second of noise comes before and after the
// transmission, so that squelch and start-up count too. The character error rate
// is the edit distance between sent and received text over the length of the
// message. A second table compares senders at other rates with a 45.45-baud
// one, clean and at -8 dB, the receiver left at its default 45.45 baud: ours at
// 45 and 46 baud, minimodem at 45.45 +- 2 %, fldigi at 45 and 45.45 baud.
//
//   rtty_sensitivity [trials [rate trials]]   (noise seeds per point, default 1 and 10)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "ErrorRate.h"
#include "Minimodem.h"
#include "RttyChannel.h"
#include "RttyTiming.h"
#include "RttyWav.h"

namespace {

using rz::test::support::Percent;
using rz::test::support::RepeatedLines;
using namespace rz::rtty::testing;

constexpr int kMessageLength = 500;
constexpr int kHighestSnr = 6;
constexpr int kLowestSnr = -12;
constexpr double kMistuningHz = 20.0;
constexpr uint64_t kSeed = 0x5EED;
constexpr int kChannelMargin = 8000;

// What fldigi sent in its recording: the message's first four lines and a CR LF.
constexpr char kFldigi45[] = RTTY_TEST_DATA "/fldigi_45baud.wav";
constexpr char kFldigi4545[] = RTTY_TEST_DATA "/fldigi_4545baud.wav";
constexpr int kFldigiLines = 4;
constexpr double kRateSnr = -8.0;

std::string Message()
{
    static const char* const kLines[] = {
        "CQ CQ CQ DE DL2XYZ DL2XYZ PSE K\r\n",
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890\r\n",
        "UR RST 599 5NN QTH JENA, NAME KARL. WX: 21C & SUNNY!\r\n",
        "RIG 100W (DIPOLE) /P? $73 #42 \"QSL\" VIA BURO; TNX 'OM'\r\n",
        "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS - 73 ES GL\r\n",
    };
    return RepeatedLines(kLines, kMessageLength);
}

struct Rates {
    double ours = 0.0;
    std::optional<double> minimodem;
};

Rates Measure(const std::string& message, const std::vector<int16_t>& signal, double snrDb, int trials,
              const std::optional<std::string>& minimodem, const std::string& wavPath)
{
    Rates rates;
    double minimodemSum = 0.0;
    bool minimodemOk = minimodem.has_value();
    for (int trial = 0; trial < trials; ++trial) {
        const uint64_t seed = kSeed + static_cast<uint64_t>(trial) * 1000 + static_cast<uint64_t>(snrDb + 100);
        const std::vector<int16_t> mix = AddNoise(signal, snrDb, seed, kChannelMargin, kChannelMargin);
        rates.ours += CharacterErrorRate(message, ReceiveText(mix));
        if (!minimodemOk)
            continue;
        const std::optional<std::string> text =
            WriteWav(wavPath, mix) ? MinimodemReceive(*minimodem, wavPath) : std::nullopt;
        if (text)
            minimodemSum += CharacterErrorRate(message, *text);
        else
            minimodemOk = false;
    }
    rates.ours /= trials;
    if (minimodemOk)
        rates.minimodem = minimodemSum / trials;
    return rates;
}

std::optional<std::vector<int16_t>> Recording(const char* path)
{
    std::optional<std::vector<int16_t>> audio = ReadWav(path);
    if (!audio)
        std::fprintf(stderr, "cannot read %s\n", path);
    return audio;
}

}  // namespace

int main(int argc, char** argv)
{
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const int rateTrials = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const std::optional<std::string> minimodem = FindMinimodem();
    if (!minimodem)
        std::printf("minimodem not found on PATH: its columns read n/a\n");
    char directory[] = "/tmp/rtty_sensitivity.XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string wavPath = std::string(directory) + "/mix.wav";

    const std::string message = Message();
    std::string fldigiText;
    for (size_t at = 0, lines = 0; lines < kFldigiLines; ++lines) {
        const size_t end = message.find("\r\n", at) + 2;
        fldigiText += message.substr(at, end - at);
        at = end;
    }
    fldigiText += "\r\n";
    const std::optional<std::vector<int16_t>> fldigi45 = Recording(kFldigi45);
    const std::optional<std::vector<int16_t>> fldigi4545 = Recording(kFldigi4545);
    if (!fldigi45 || !fldigi4545)
        return 1;
    const rz::rtty::Tones mistuned{kDefaultTones.markHz + kMistuningHz, kDefaultTones.spaceHz + kMistuningHz};
    const std::vector<int16_t> onTune = TransmitText(message, kDefaultTones, rz::rtty::kCharSamples * 2);
    const std::vector<int16_t> offTune = TransmitText(message, mistuned, rz::rtty::kCharSamples * 2);

    std::printf("Character error rate, %d characters, %d trial(s) per point\n\n", kMessageLength, trials);
    std::printf(
        "| SNR (dB) | ours, 0 Hz | minimodem, 0 Hz | ours, +20 Hz | minimodem, +20 Hz "
        "| ours, fldigi 45 Bd | minimodem, fldigi 45 Bd |\n");
    std::printf(
        "|---------:|-----------:|----------------:|-------------:|------------------:"
        "|-------------------:|------------------------:|\n");
    for (int snr = kHighestSnr; snr >= kLowestSnr; --snr) {
        const Rates on = Measure(message, onTune, snr, trials, minimodem, wavPath);
        const Rates off = Measure(message, offTune, snr, trials, minimodem, wavPath);
        const Rates peer = Measure(fldigiText, *fldigi45, snr, trials, minimodem, wavPath);
        std::printf("| %8d | %10s | %15s | %12s | %17s | %18s | %23s |\n", snr, Percent(on.ours).c_str(),
                    Percent(on.minimodem).c_str(), Percent(off.ours).c_str(), Percent(off.minimodem).c_str(),
                    Percent(peer.ours).c_str(), Percent(peer.minimodem).c_str());
        std::fflush(stdout);
    }

    struct Sender {
        std::string name;
        const std::string& text;
        std::vector<int16_t> audio;
    };
    std::vector<Sender> senders;
    for (const double baud : {45.45, 45.0, 46.0}) {
        char name[32];
        std::snprintf(name, sizeof name, "ours, %.2f Bd", baud);
        const rz::rtty::BitTiming timing{baud == 45.45 ? rz::rtty::kSamplesPerBit : 8000.0 / baud, 3};
        senders.push_back({name, message, TransmitText(message, kDefaultTones, rz::rtty::kCharSamples * 2, timing)});
    }
    for (const char* baud :
         minimodem ? std::vector<const char*>{"45.45", "44.54", "46.36"} : std::vector<const char*>{}) {
        const std::string path = std::string(directory) + "/minimodem.wav";
        std::optional<std::vector<int16_t>> audio;
        if (MinimodemTransmit(*minimodem, message, path, baud))
            audio = ReadWav(path);
        if (audio)
            senders.push_back({std::string("minimodem, ") + baud + " Bd", message, *audio});
        std::remove(path.c_str());
    }
    senders.push_back({"fldigi, 45.45 Bd", fldigiText, *fldigi4545});
    senders.push_back({"fldigi, 45 Bd", fldigiText, *fldigi45});
    std::printf("\nOur receiver at its default 45.45 baud, %d trial(s) at %.0f dB\n\n", rateTrials, kRateSnr);
    std::printf("| sender | clean | %.0f dB |\n|---|---:|---:|\n", kRateSnr);
    for (const Sender& sender : senders) {
        const double clean = CharacterErrorRate(sender.text, ReceiveText(sender.audio));
        const Rates noisy = Measure(sender.text, sender.audio, kRateSnr, rateTrials, std::nullopt, wavPath);
        std::printf("| %s | %s | %s |\n", sender.name.c_str(), Percent(clean).c_str(), Percent(noisy.ours).c_str());
        std::fflush(stdout);
    }
    std::remove(wavPath.c_str());
    rmdir(directory);
    return 0;
}
