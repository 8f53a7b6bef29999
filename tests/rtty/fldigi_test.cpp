// fldigi as the far station, from recordings of its transmissions (data/): they
// copy exactly at 45 and 45.45 baud with no option set, also through noise, and
// whatever our unshift-on-space setting when fldigi's is on (the snap-in's suite
// has its setting off).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "rtty_channel.h"
#include "wav_file.h"

namespace {

using namespace rz::rtty::testing;
using Audio = std::vector<int16_t>;

constexpr char kBenchLines[] =
    "CQ CQ CQ DE DL2XYZ DL2XYZ PSE K\r\nTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890\r\n"
    "UR RST 599 5NN QTH JENA, NAME KARL. WX: 21C & SUNNY!\r\nRIG 100W (DIPOLE) /P? $73 #42 \"QSL\" VIA BURO; TNX "
    "'OM'\r\n\r\n";
constexpr char kMixed[] = "14.085 MHZ 10 M 5NN 599 73 TU\r\n599 599 5NN 73 73 1 2 ABC 3 QRV\r\n\r\n";

Audio Recording(const char* name)
{
    const std::optional<Audio> audio = ReadWav(std::string(RTTY_TEST_DATA) + "/" + name);
    EXPECT_TRUE(audio.has_value()) << name;
    return audio.value_or(Audio{});
}

TEST(Fldigi, CopiesExactlyAtEitherSpeedAndWithEitherUnshiftOnSpace)
{
    const struct {
        const char* file;
        bool unshiftOnSpace;
        std::string text;
    } cases[] = {
        {"fldigi_45baud.wav", true, kBenchLines},
        {"fldigi_4545baud.wav", true, kBenchLines},
        {"fldigi_unshift_on.wav", true, kMixed},
        {"fldigi_unshift_on.wav", false, kMixed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReceiveText(Recording(c.file), kDefaultTones, kDecodeBlock, {}, c.unshiftOnSpace), c.text)
            << c.file << (c.unshiftOnSpace ? " unshifting on space" : " not unshifting on space");
    }
}

TEST(Fldigi, CopiesItsFortyFiveBaudThroughNoise)
{
    const Audio noisy = AddNoise(Recording("fldigi_45baud.wav"), -6.0, 11, 8000, 8000);
    EXPECT_LE(CharacterErrorRate(kBenchLines, ReceiveText(noisy)), 0.01);
}

}  // namespace
