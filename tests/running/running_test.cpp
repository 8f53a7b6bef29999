#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include <RUZada.h>

#include "SuiteHelpers.h"
#include "audio/Feeders.h"
#include "audio/Resample.h"
#include "audio/SendQueue.h"
#include "audio/SoundControl.h"
#include "audio/XmitThread.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Messages.h"
#include "modes/ModeFuncs.h"

namespace {

// Between the card at 48000 and the modes at 8000: every sixth sample from the
// chunk's start (a partial last group gives nothing), and each sample six times.
TEST(Resample, DecimateTakesEverySixthSampleAndRepeatWritesEachSixTimes)
{
    std::vector<int16_t> card(1500);
    std::iota(card.begin(), card.end(), int16_t{0});
    std::vector<int16_t> block(260, -1);
    EXPECT_EQ(Decimate6(block.data(), card.data(), 1500), 250);
    for (int k = 0; k < 250; ++k)
        ASSERT_EQ(block[k], 6 * k);
    EXPECT_EQ(block[250], -1);
    EXPECT_EQ(Decimate6(block.data(), card.data() + 3, 11), 1);
    EXPECT_EQ(block[0], 3);

    EXPECT_EQ(Repeat6(card.data(), block.data() + 249, 2), 12);
    EXPECT_EQ(std::vector<int16_t>(card.begin(), card.begin() + 13),
              (std::vector<int16_t>{1494, 1494, 1494, 1494, 1494, 1494, -1, -1, -1, -1, -1, -1, 12}));
}

// The transmit thread on its own, in a mode that needs no card.
class XmitThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (CRITICAL_SECTION* lock : {&g_csSendQueue, &g_csMode, &g_csSound})
            InitializeCriticalSection(lock);
        g_hXmitEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        g_hStopXmitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_bNoSoundCard = 1;
        g_bModeBusy = 0;
        g_bRunning = 1;
        g_FFTFifo.empty();
    }
    void TearDown() override
    {
        CloseHandle(g_hXmitEvent.exchange(nullptr));
        CloseHandle(g_hStopXmitEvent);
        for (CRITICAL_SECTION* lock : {&g_csSendQueue, &g_csMode, &g_csSound})
            DeleteCriticalSection(lock);
    }
    // Runs the thread while `meanwhile` does.
    static void Run(const std::function<void()>& meanwhile)
    {
        std::thread xmit(XmitThreadProc, nullptr);
        meanwhile();
        SetEvent(g_hStopXmitEvent);
        xmit.join();
        g_bRunning = 0;
    }
};

// What the test encoder answers: the samples it claims to have written.
std::atomic<int> g_nEncoded{0};
int Encode(int16_t*, int, const char16_t*, int) { return g_nEncoded; }

// Each character of a batch that gave audio is reported once; a batch that gave
// none is not reported at all.
TEST_F(XmitThreadTest, ACharacterPassReportsEachCharacterOfABatchThatGaveAudio)
{
    rz::test::support::RecordingWindow host;
    g_hwndHost = host.Handle();
    g_dwSoundMode = kSoundModeTransmit | kSoundModeReceive;
    g_ModeFuncs.EncodeDGDataW = &Encode;
    Run([] {
        for (const auto& [samples, text] : {std::pair{0, u"ab"}, std::pair{480, u"cd"}}) {
            g_nEncoded = samples;
            {
                CScopedLock queue(&g_csSendQueue);
                for (const char16_t* unit = text; *unit; ++unit)
                    g_SendQueue.Append(*unit);
            }
            EXPECT_TRUE(rz::test::support::WaitUntil([] { return IsDGSendIdle() == 1; }));
        }
    });
    g_ModeFuncs.EncodeDGDataW = nullptr;
    g_hwndHost = nullptr;
    host.Drain();
    std::vector<WPARAM> sent;
    for (const rz::test::support::Received& post : host.Messages(g_uMsgSentChar))
        sent.push_back(post.wParam);
    EXPECT_EQ(sent, (std::vector<WPARAM>{'c', 'd'}));
}

// Transmit and receive off, every pass is an idle pass, which feeds the spectrum
// silence, 18/35 of the module's rate each time.
struct IdleCase {
    DWORD cardRate;
    bool use48KHz;
    int samples;
};

void PrintTo(const IdleCase& c, std::ostream* out) { *out << c.cardRate; }

class IdlePassTest : public XmitThreadTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(IdlePassTest, EachPassFeedsTheSpectrumItsShareOfSilence)
{
    const IdleCase& c = GetParam();
    g_WaveFormat.nSamplesPerSec = c.cardRate;
    g_bUse48KHz = c.use48KHz;
    g_dwSoundMode = 0;
    g_bUseFFT = true;
    const int passBytes = 2 * c.samples;
    Run([&] { rz::test::support::WaitUntil([&] { return g_FFTFifo.size() >= 3 * passBytes; }); });

    const int queued = g_FFTFifo.size();
    EXPECT_GE(queued, 3 * passBytes);
    EXPECT_EQ(queued % passBytes, 0);
    std::vector<int16_t> fed(queued / 2, -1);
    g_FFTFifo.read(fed.data(), queued);
    EXPECT_EQ(fed, std::vector<int16_t>(fed.size(), 0));
}

INSTANTIATE_TEST_SUITE_P(CardRates, IdlePassTest,
                         ::testing::Values(IdleCase{8000, false, 4114}, IdleCase{48000, true, 8228}));

}  // namespace
