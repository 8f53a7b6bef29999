// STRESS TEST, about 30 seconds: two host threads switch modes and the sound
// mode and send characters while audio runs.
#include <atomic>
#include <thread>

#include "running_fixture.h"

namespace running {
namespace {

constexpr auto kStressSpan = 30s;

TEST_F(RunningTest, StressSwitchingAndSendingNeitherDeadlocksNorReorders)
{
    Load({"DGcodecwide.so", "DGcodecwidetoo.so"});
    Start(1, kTransmit | kReceive);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};

    std::thread switcher([&] {
        for (int round = 0; !stop; ++round) {
            setRUZada(round % 2 ? 2048 : 1);
            setSoundMode(round % 3 ? kTransmit | kReceive : kReceive, -1);
        }
    });
    // Units 1, 2, 3 ... so that order shows in the values themselves.
    std::thread sender([&] {
        for (uint16_t unit = 1; !stop && unit < 0xF000; ++unit) {
            sendW(unit);
            sent = unit;
            std::this_thread::sleep_for(2ms);
        }
    });
    host.PumpFor(kStressSpan);
    stop = true;
    switcher.join();
    sender.join();

    // Still working: a last character goes out.
    setRUZada(1);
    setSoundMode(kTransmit | kReceive, -1);
    const uint16_t last = static_cast<uint16_t>(sent + 1);
    sendW(last);
    ASSERT_TRUE(host.PumpUntil([&] { return !SentChars().empty() && SentChars().back() == last; }, 60s));

    const std::vector<uint32_t> encoded = SentChars();
    EXPECT_GT(encoded.size(), 100u);
    for (size_t i = 1; i < encoded.size(); ++i)
        ASSERT_LT(encoded[i - 1], encoded[i]) << "at " << i;
}

}  // namespace
}  // namespace running
