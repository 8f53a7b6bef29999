// Prints the character error rate of the CW receiver, and of fldigi on the very
// same audio where its copy has been made: a 500-character message at 20 WPM
// on 700 Hz, machine-sent, hand-sent, and machine-sent through slow Rayleigh
// fading (0.5 Hz), in white Gaussian noise from a fixed seed at SNRs from -6 to
// -20 dB in steps of 2 dB. SNR is the power of the tone while the key is down (for the fading
// row its mean over the fading) over the noise power in 0-4000 Hz. A second of
// noise alone comes before and after the message, so that squelch and start-up
// count too.
//
//   cw_sensitivity [--wavs DIR] [--rows machine,hand,fading] [--seed N]
//
// With --wavs, every noisy file is written to DIR as ROW_SNR.wav (machine_-12.wav)
// together with the message (message.txt), or read from there when it is there
// already; fldigi_column.py then makes DIR/ROW_SNR.fldigi.txt with fldigi, and
// the next run prints those beside our own copy of the very same files.
// --seed draws other noise, fading and hand timing: one seed's figures move by
// a few characters, so a change is judged on several.
#include <sys/stat.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CwChannel.h"
#include "ErrorRate.h"

namespace {

using rz::test::support::Percent;
using rz::test::support::RepeatedLines;
using namespace rz::cw::testing;
using rz::test::support::WriteWav;

constexpr int kMessageLength = 500;
constexpr double kWpm = 20.0;
constexpr int kHighestSnr = -6;
constexpr int kLowestSnr = -20;
constexpr int kSnrStep = 2;
constexpr double kFadingHz = 0.5;
constexpr uint64_t kDefaultSeed = 0xC0DE;
constexpr int kChannelMargin = 8000;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Exact machine timing of `text` at `wpm`: a hand without errors.
std::vector<Segment> MachineKeying(const std::string& text, double wpm)
{
    Hand exact;
    exact.wpm = wpm;
    exact.jitter = 0.0;
    exact.drift = 0.0;
    exact.minRatio = exact.maxRatio = 3.0;
    return HandKeying(text, exact);
}

// Rayleigh fading with a Doppler spread of `dopplerHz` and a mean power of 1 (Clarke's model).
Gain RayleighFading(double dopplerHz, uint64_t seed)
{
    constexpr int kPaths = 16;
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> angle(0.0, kTwoPi);
    std::vector<std::pair<double, double>> paths;
    for (int i = 0; i < kPaths; ++i)
        paths.emplace_back(kTwoPi * dopplerHz * std::cos(angle(random)), angle(random));
    return [paths](double t) {
        std::complex<double> sum;
        for (const auto& [omega, phase] : paths)
            sum += std::polar(1.0, omega * t + phase);
        return sum / std::sqrt(static_cast<double>(paths.size()));
    };
}

std::string Message()
{
    static const char* const kLines[] = {
        "CQ CQ CQ DE DL2XYZ DL2XYZ PSE K ",
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890 ",
        "UR RST 599 5NN QTH JENA, NAME KARL. WX 21C ES SUNNY ",
        "RIG 100W DIPOLE /P? QSL VIA BURO, TNX FER QSO ",
        "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS - 73 ES GL ",
    };
    return RepeatedLines(kLines, kMessageLength);
}

struct Row {
    const char* name;
    uint64_t noiseSeed;  // the same whichever rows a run measures
    std::vector<int16_t> signal;
};

std::vector<Row> Rows(const std::string& message, const std::string& wanted, uint64_t seed)
{
    const auto machine = MachineKeying(message, kWpm);
    Hand hand;
    hand.wpm = kWpm;
    hand.seed = seed;
    std::vector<Row> rows;
    size_t skipped = 0;
    const auto add = [&](const char* name, auto render) {
        const uint64_t noiseSeed = seed + 1000 * (rows.size() + skipped);
        if (wanted.empty() || ("," + wanted + ",").find(std::string(",") + name + ",") != std::string::npos)
            rows.push_back({name, noiseSeed, render()});
        else
            ++skipped;
    };
    add("machine", [&] { return Render(machine, kCarrierHz); });
    add("hand", [&] { return Render(HandKeying(message, hand), kCarrierHz); });
    add("fading", [&] { return Render(machine, kCarrierHz, RayleighFading(kFadingHz, seed)); });
    return rows;
}

// fldigi prints the word gap after the last character as a space; ours prints none.
std::string WithoutTrailingSpace(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::optional<std::string> FldigiCopy(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string wavs;
    std::string wanted;
    uint64_t seed = kDefaultSeed;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--wavs") == 0)
            wavs = argv[i + 1];
        else if (std::strcmp(argv[i], "--rows") == 0)
            wanted = argv[i + 1];
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = std::strtoull(argv[i + 1], nullptr, 0);
    }
    if (argc % 2 == 0) {
        std::fprintf(stderr, "usage: cw_sensitivity [--wavs DIR] [--rows machine,hand,fading] [--seed N]\n");
        return 2;
    }
    const std::string message = Message();
    if (!wavs.empty()) {
        mkdir(wavs.c_str(), 0755);
        std::ofstream(wavs + "/message.txt") << message;
    }
    const std::vector<Row> rows = Rows(message, wanted, seed);

    std::printf("Character error rate, %d characters at %.0f WPM; SNR: key-down power over noise in 0-4 kHz\n\n",
                kMessageLength, kWpm);
    std::string header = "| SNR (dB) |";
    std::string rule = "|---------:|";
    for (const Row& row : rows) {
        header += std::string(" DGcw ") + row.name + " | fldigi " + row.name + " |";
        rule += "---:|---:|";
    }
    std::printf("%s\n%s\n", header.c_str(), rule.c_str());
    for (int snr = kHighestSnr; snr >= kLowestSnr; snr -= kSnrStep) {
        std::printf("| %8d |", snr);
        for (size_t r = 0; r < rows.size(); ++r) {
            const uint64_t seed = rows[r].noiseSeed + static_cast<uint64_t>(snr + 100);
            char name[64];
            std::snprintf(name, sizeof name, "%s/%s_%d", wavs.c_str(), rows[r].name, snr);
            // A file written before is read back: fldigi's copy is of that one.
            std::optional<std::vector<int16_t>> mix = wavs.empty() ? std::nullopt : ReadWav(std::string(name) + ".wav");
            if (!mix) {
                mix = AddNoise(rows[r].signal, snr, seed, kChannelMargin, kChannelMargin, kKeyDownPower);
                if (!wavs.empty() && !WriteWav(std::string(name) + ".wav", *mix)) {
                    std::fprintf(stderr, "cannot write %s.wav\n", name);
                    return 1;
                }
            }
            const double ours = CharacterErrorRate(message, ReceiveText(*mix, Receiver()));
            std::optional<double> fldigi;
            if (const auto copy = wavs.empty() ? std::nullopt : FldigiCopy(std::string(name) + ".fldigi.txt"))
                fldigi = CharacterErrorRate(message, WithoutTrailingSpace(*copy));
            std::printf(" %s | %s |", Percent(ours).c_str(), Percent(fldigi).c_str());
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    return 0;
}
