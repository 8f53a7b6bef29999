// A known signal through the whole card: played with WriteOut, captured with
// ReadIn, complete and in order. (The file backend's halves are the wave tests'.)
#include <thread>

#include "SoundTestSupport.h"
#include "audio/Sound.h"

namespace rz::test::sound {
namespace {

// Reads everything ready into `all` until `enough` holds or the time is up.
bool ReadUntil(CSound& sound, std::vector<int16_t>& all, const std::function<bool()>& enough,
               std::chrono::milliseconds limit)
{
    std::vector<short> buffer(4096);
    return WaitFor(
        [&] {
            const int read = sound.ReadIn(buffer.data(), 4096);
            all.insert(all.end(), buffer.begin(), buffer.begin() + std::max(read, 0));
            return enough();
        },
        limit);
}

TEST(SoundSignal, PlayedOnTheLoopbackItComesBackWithoutGapOrRepeat)
{
    CSound sound;
    ASSERT_TRUE(OpenOnLoopback(sound));
    const std::vector<int16_t> signal = Ramp(20000);  // 2.5 s: more than the FIFO holds
    std::vector<int16_t> captured;
    std::thread receive([&] {
        ReadUntil(
            sound, captured, [&] { return Find(captured, signal) >= 0; }, 15s);
    });
    EXPECT_EQ(sound.WriteOut(signal.data(), 20000), 20000);
    EXPECT_EQ(sound.WriteOut(signal.data(), -1), 0);
    receive.join();
    const long at = Find(captured, signal);
    ASSERT_GE(at, 0) << "captured " << captured.size() << " samples";
    // Silence before it: nothing else was played.
    EXPECT_EQ(std::count(captured.begin(), captured.begin() + at, 0), at);
    EXPECT_EQ(sound.GetError(), 0u);
    sound.CloseIn();
    sound.CloseOut();
}

}  // namespace
}  // namespace rz::test::sound
