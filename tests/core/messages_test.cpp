#include <gtest/gtest.h>

#include <future>
#include <utility>
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
    // Found by name, as a host finds them.
    const UINT m_xmitRecv = RegisterWindowMessageA("DG_XMITRECV");
    const UINT m_requestCom = RegisterWindowMessageA("DG_REQUESTCOM");
};

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
    for (const Received& post : m_host.Messages(m_xmitRecv))
        posted.emplace_back(post.wParam, post.lParam);
    EXPECT_EQ(posted, (std::vector<std::pair<WPARAM, LPARAM>>{{1, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 1}, {0, 1}}));
}

TEST_F(MessagesTest, RequestComPortFromAWorkerReturnsTheHostsReplyAndWithoutAHostZero)
{
    m_host.Answer(3);
    auto answer = std::async(std::launch::async, [] { return DGRequestComPort(); });
    m_host.PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; });
    EXPECT_EQ(answer.get(), 3);
    ASSERT_EQ(m_host.Messages(m_requestCom).size(), 1u);

    g_hwndHost = nullptr;
    EXPECT_FALSE(DGSetXmit(1));
    EXPECT_EQ(DGRequestComPort(), 0);
    m_host.Drain();
    EXPECT_TRUE(m_host.Messages(m_xmitRecv).empty());
    EXPECT_EQ(m_host.Messages(m_requestCom).size(), 1u);
}

}  // namespace
