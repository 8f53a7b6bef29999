// Deep noise, where the threshold reader prints little but E and T: whole
// characters weighed by the sequence decoder still copy, also from a sender
// faster than the speed the receiver expects.
#include <gtest/gtest.h>

#include <string>

#include "CwChannel.h"

namespace {

using namespace rz::cw::testing;

constexpr int kMargin = 8000;

TEST(CwDeepNoise, CopiesWhatTheThresholdReaderCannot)
{
    const std::string text =
        "CQ CQ DE DL2XYZ DL2XYZ PSE K UR RST 599 QTH JENA NAME KARL HW CPY "
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890 TNX FER QSO 73 ES GL";
    const Hand machine{.jitter = 0.0, .drift = 0.0, .minRatio = 3.0, .maxRatio = 3.0};
    const struct {
        const char* channel;
        double wpm;
        double snrDb;
        double errorRate;
    } cases[] = {
        // The threshold reader alone: 71 % and 83 %.
        {"20 WPM at -16 dB", 20.0, -16.0, 0.55},
        {"25 WPM at -16 dB, 20 expected", 25.0, -16.0, 0.75},
    };
    for (const auto& c : cases) {
        Hand sender = machine;
        sender.wpm = c.wpm;
        const auto audio =
            AddNoise(Render(HandKeying(text, sender), kCarrierHz), c.snrDb, 18, kMargin, kMargin, kKeyDownPower);
        const std::string received = ReceiveText(audio, Receiver());
        EXPECT_LE(CharacterErrorRate(text, received), c.errorRate) << c.channel << ": " << received;
    }
}

}  // namespace
