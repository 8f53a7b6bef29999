#include <gtest/gtest.h>

#include <future>
#include <vector>

#include <RUZada.h>

#include "SuiteHelpers.h"
#include "core/Globals.h"
#include "core/Messages.h"

namespace {

using namespace rz::test::support;

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hwndHost = m_host.Handle();
        g_bXmitPosted = 0;
        g_bRecvPosted = 0;
    }
    void TearDown() override { g_hwndHost = nullptr; }
    RecordingWindow m_host;
};

TEST_F(MessagesTest, TheSixNamesAreRegisteredProcessWide)
{
    const UINT ids[] = {g_uMsgChar, g_uMsgSentChar, g_uMsgRawData, g_uMsgVU, g_uMsgXmitRecv, g_uMsgRequestCom};
    const char* names[] = {"DG_CHAR", "DG_SENTCHAR", "DG_RAWDATA", "DG_VU", "DG_XMITRECV", "DG_REQUESTCOM"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_GE(ids[i], 0xC000u);
        EXPECT_EQ(ids[i], RegisterWindowMessageA(names[i])) << names[i];
        for (int j = 0; j < i; ++j)
            EXPECT_NE(ids[i], ids[j]);
    }
}

// Each call posts both states, normalised to 0 or 1, and keeps the other one.
TEST_F(MessagesTest, SetXmitSetRecvAndPostXmitRecvPostBothStatesInOrder)
{
    EXPECT_TRUE(DGSetXmit(5));
    EXPECT_TRUE(DGSetRecv(7));
    DGSetXmit(0);
    DGSetRecv(0);
    PostXmitRecv(1, 1);
    DGSetXmit(0);
    m_host.Drain();
    std::vector<std::pair<WPARAM, LPARAM>> posted;
    for (const Received& post : m_host.Messages(g_uMsgXmitRecv))
        posted.emplace_back(post.wParam, post.lParam);
    EXPECT_EQ(posted, (std::vector<std::pair<WPARAM, LPARAM>>{{1, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 1}, {0, 1}}));
}

TEST_F(MessagesTest, RequestComPortFromAWorkerReturnsTheHostsReply)
{
    m_host.Answer(3);
    auto answer = std::async(std::launch::async, [] { return DGRequestComPort(); });
    m_host.PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; });
    EXPECT_EQ(answer.get(), 3);
    const std::vector<Received> asked = m_host.Messages(g_uMsgRequestCom);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].wParam, 0u);
    EXPECT_EQ(asked[0].lParam, 0);
}

TEST_F(MessagesTest, WithoutAHostWindowNothingIsDeliveredAndNothingBreaks)
{
    g_hwndHost = nullptr;
    EXPECT_FALSE(DGSetXmit(1));
    EXPECT_EQ(DGRequestComPort(), 0);
    m_host.Drain();
    EXPECT_TRUE(m_host.Messages(g_uMsgXmitRecv).empty());
    EXPECT_TRUE(m_host.Messages(g_uMsgRequestCom).empty());
}

}  // namespace
