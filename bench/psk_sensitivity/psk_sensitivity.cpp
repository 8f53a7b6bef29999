// Prints the character error rate of the PSK receiver on noisy recordings of
// a 500-character message from our transmitter: BPSK31, BPSK63 and QPSK31, the
// signal on the receiver's carrier and 10 Hz above it, white Gaussian noise
// from a fixed seed, SNR over 0-4000 Hz from -6 to -16 dB. A second of noise
// comes before and after each transmission, so that squelch and start-up
// count too. Beside it, what ideal differential detection of BPSK at the same
// symbol rate gives, and fldigi's rate on the same files once fldigi has
// decoded them (fldigi_column.sh, outside CI):
//
//   psk_sensitivity                    our column and the ideal one
//   psk_sensitivity --wav-dir DIR      also writes each noisy file, and the message, to DIR
//   psk_sensitivity --fldigi RESULTS   with fldigi's texts (JSON lines {"file": ..., "text": ...})
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ErrorRate.h"
#include "PskChannel.h"
#include "RttyChannel.h"
#include "RttyWav.h"
#include "Varicode.h"

namespace {

using rz::test::support::Percent;
using rz::test::support::RepeatedLines;
using namespace rz::psk::testing;
using rz::rtty::testing::AddNoise;
using rz::rtty::testing::CharacterErrorRate;

constexpr int kMessageLength = 500;
constexpr int kHighestSnr = -6;
constexpr int kLowestSnr = -16;
constexpr double kCarrierHz = 1000.0;
constexpr double kMistuningHz = 10.0;
constexpr uint64_t kSeed = 0x5EED;
constexpr int kChannelMargin = 8000;
constexpr double kNoiseBandHz = 4000.0;
constexpr DGPskSubmode kSubmodes[] = {DG_PSK_BPSK31, DG_PSK_BPSK63, DG_PSK_QPSK31};

std::string Message()
{
    static const char* const kLines[] = {
        "CQ CQ CQ de DL2XYZ DL2XYZ pse K. ",
        "The quick brown fox jumps over the lazy dog 1234567890. ",
        "UR RST 599 5NN, QTH Jena; name Karl. WX: 21C & sunny! ",
        "Rig 100W (dipole) /P? $73 #42 \"QSL\" via buro; tnx 'OM' <ok> [de] {?} 50% @ 7+3=10. ",
        "Pack my box with five dozen liquor jugs - 73 es GL. ",
    };
    return RepeatedLines(kLines, kMessageLength);
}

// Ideal differential detection of BPSK errs on a bit with 1/2 exp(-Eb/N0); a
// character (its code and its gap) is lost when any of its bits is.
double IdealDifferentialRate(const std::string& message, double baudRate, double snrDb)
{
    const double ebN0 = std::pow(10.0, snrDb / 10.0) * kNoiseBandHz / baudRate;
    const double bitError = 0.5 * std::exp(-ebN0);
    double lost = 0.0;
    for (char ch : message)
        lost += 1.0 - std::pow(1.0 - bitError, rz::psk::VaricodeOf(static_cast<unsigned char>(ch))->length + 2);
    return lost / static_cast<double>(message.size());
}

std::string FileName(DGPskSubmode submode, double offsetHz, int snr)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s_%+.0fHz_%ddB.wav", rz::psk::SubmodeOf(submode).name, offsetHz, snr);
    return name;
}

// fldigi's texts by file name, from JSON lines {"file": "...", "text": "..."}.
std::map<std::string, std::string> ReadFldigiResults(const std::string& path)
{
    std::map<std::string, std::string> results;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto field = [&](const std::string& key) {
            std::string value;
            size_t at = line.find("\"" + key + "\": \"");
            if (at == std::string::npos)
                return value;
            for (at += key.size() + 5; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] != '\\') {
                    value += line[at];
                    continue;
                }
                const char escaped = line[++at];
                if (escaped == 'u') {
                    value += static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16));
                    at += 4;
                } else {
                    value += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped == 't' ? '\t' : escaped;
                }
            }
            return value;
        };
        const std::string file = field("file");
        results[file.substr(file.find_last_of('/') + 1)] = field("text");
    }
    return results;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string wavDir;
    std::map<std::string, std::string> fldigi;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--wav-dir")
            wavDir = argv[i + 1];
        else if (option == "--fldigi")
            fldigi = ReadFldigiResults(argv[i + 1]);
    }
    const std::string message = Message();
    if (!wavDir.empty())
        std::ofstream(wavDir + "/message.txt") << message;

    std::printf("Character error rate, %d characters, one noise seed per point\n", kMessageLength);
    for (DGPskSubmode submode : kSubmodes) {
        const rz::psk::Submode& mode = rz::psk::SubmodeOf(submode);
        std::printf("\n%s\n\n", mode.name);
        std::printf("| SNR (dB) | DGpsk, 0 Hz | fldigi, 0 Hz | DGpsk, +10 Hz | fldigi, +10 Hz | ideal DBPSK |\n");
        std::printf("|---------:|------------:|-------------:|--------------:|---------------:|------------:|\n");
        const std::vector<int16_t> signals[] = {TransmitText(message, submode, kCarrierHz),
                                                TransmitText(message, submode, kCarrierHz + kMistuningHz)};
        for (int snr = kHighestSnr; snr >= kLowestSnr; --snr) {
            std::optional<double> rates[4];
            for (int offset = 0; offset < 2; ++offset) {
                const uint64_t seed = kSeed + static_cast<uint64_t>(snr + 100) + 1000 * static_cast<uint64_t>(submode);
                const std::vector<int16_t> mix = AddNoise(signals[offset], snr, seed, kChannelMargin, kChannelMargin);
                rates[2 * offset] = CharacterErrorRate(message, ReceiveText(mix, submode));
                const std::string name = FileName(submode, offset * kMistuningHz, snr);
                if (!wavDir.empty() && !rz::rtty::testing::WriteWav(wavDir + "/" + name, mix))
                    std::fprintf(stderr, "psk_sensitivity: cannot write %s/%s\n", wavDir.c_str(), name.c_str());
                if (const auto found = fldigi.find(name); found != fldigi.end())
                    rates[2 * offset + 1] = CharacterErrorRate(message, found->second);
            }
            std::printf("| %8d | %11s | %12s | %13s | %14s | %11s |\n", snr, Percent(rates[0]).c_str(),
                        Percent(rates[1]).c_str(), Percent(rates[2]).c_str(), Percent(rates[3]).c_str(),
                        Percent(IdealDifferentialRate(message, mode.BaudRate(), snr)).c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
