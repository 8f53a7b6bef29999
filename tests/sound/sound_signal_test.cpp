// A known signal through the whole card: played with WriteOut, captured with
// ReadIn, every sample once and in order. (The file backend's halves are the
// wave tests'.)
#include <algorithm>
#include <iterator>
#include <thread>

#include "SoundTestSupport.h"
#include "audio/Sound.h"

namespace rz::test::sound {
namespace {

// A player starved on a loaded machine lets the cable run dry, and capture fills
// the hole with silence: silence is all that may come between the samples. A
// reader starved for the whole capture ring overruns it; that try does not count.
TEST(SoundSignal, PlayedOnTheLoopbackItComesBackWholeAndInOrder)
{
    const std::vector<int16_t> signal = Ramp(20000);  // 2.5 s: more than the FIFO holds
    std::vector<int16_t> heard;
    bool overran = true;
    for (int attempt = 0; attempt < 3 && overran; ++attempt) {
        CSound sound;
        ASSERT_TRUE(OpenOnLoopback(sound));
        heard.clear();
        std::thread receive([&] {
            std::vector<short> buffer(4096);
            WaitUntil(
                [&] {
                    const int read = sound.ReadIn(buffer.data(), 4096);
                    std::copy_if(buffer.begin(), buffer.begin() + std::max(read, 0), std::back_inserter(heard),
                                 [](short sample) { return sample != 0; });
                    return heard.size() >= signal.size() || (!heard.empty() && heard.back() == signal.back());
                },
                30s);
        });
        EXPECT_EQ(sound.WriteOut(signal.data(), 20000), 20000);
        EXPECT_EQ(sound.WriteOut(signal.data(), -1), 0);
        receive.join();
        // An empty read reports an overrun whenever it happened.
        short none;
        sound.ReadIn(&none, 0);
        overran = sound.GetError() == kSoundInOverrun;
        EXPECT_TRUE(overran || sound.GetError() == 0) << sound.GetError();
    }
    EXPECT_FALSE(overran);
    EXPECT_EQ(heard, signal);
}

}  // namespace
}  // namespace rz::test::sound
