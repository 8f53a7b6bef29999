// Prints the character error rate of the RTTY receiver and of minimodem on the
// same noisy recordings: a 500-character message from our transmitter, on the
// set tones and 20 Hz above them, and fldigi's 45-baud transmission of its first
// four lines (tests/rtty/data); white Gaussian noise from a fixed seed, SNR from
// +6 to -12 dB in 1 dB steps. A second of noise comes before and after the
// transmission, so that squelch and start-up count too. The character error rate
// is the edit distance between sent and received text over the length of the
// message.
//
//   rtty_sensitivity [trials]   (each point averages `trials` noise seeds, default 1)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "minimodem.h"
#include "rtty_channel.h"
#include "rtty_timing.h"
#include "wav_file.h"

namespace {

using namespace rz::rtty::testing;

constexpr int kMessageLength = 500;
constexpr int kHighestSnr = 6;
constexpr int kLowestSnr = -12;
constexpr double kMistuningHz = 20.0;
constexpr uint64_t kSeed = 0x5EED;
constexpr int kChannelMargin = 8000;

// What fldigi sent in its recording: the message's first four lines and a CR LF.
constexpr char kFldigiFile[] = RTTY_TEST_DATA "/fldigi_45baud.wav";
constexpr int kFldigiLines = 4;

std::string Message()
{
    static const char* const kLines[] = {
        "CQ CQ CQ DE DL2XYZ DL2XYZ PSE K\r\n",
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890\r\n",
        "UR RST 599 5NN QTH JENA, NAME KARL. WX: 21C & SUNNY!\r\n",
        "RIG 100W (DIPOLE) /P? $73 #42 \"QSL\" VIA BURO; TNX 'OM'\r\n",
        "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS - 73 ES GL\r\n",
    };
    std::string text;
    for (size_t i = 0; text.size() < kMessageLength; ++i)
        text += kLines[i % std::size(kLines)];
    text.resize(kMessageLength);
    return text;
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

std::string Percent(std::optional<double> rate)
{
    if (!rate)
        return "n/a";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * *rate);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
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
    const std::optional<std::vector<int16_t>> fldigi = ReadWav(kFldigiFile);
    if (!fldigi) {
        std::fprintf(stderr, "cannot read %s\n", kFldigiFile);
        return 1;
    }
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
        const Rates peer = Measure(fldigiText, *fldigi, snr, trials, minimodem, wavPath);
        std::printf("| %8d | %10s | %15s | %12s | %17s | %18s | %23s |\n", snr, Percent(on.ours).c_str(),
                    Percent(on.minimodem).c_str(), Percent(off.ours).c_str(), Percent(off.minimodem).c_str(),
                    Percent(peer.ours).c_str(), Percent(peer.minimodem).c_str());
        std::fflush(stdout);
    }
    std::remove(wavPath.c_str());
    rmdir(directory);
    return 0;
}
