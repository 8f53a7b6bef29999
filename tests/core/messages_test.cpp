#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include <RUZada.h>

#include "core/Globals.h"
#include "core/Messages.h"

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Seen> g_seen;
LRESULT g_reply = 0;

LRESULT Record(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_seen.push_back({message, wParam, lParam});
    return message == g_uMsgRequestCom ? g_reply : 0;
}

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        m_window = CreateHostWindow(&Record, nullptr);
        g_hwndHost = m_window;
        g_bXmitPosted = 0;
        g_bRecvPosted = 0;
    }
    void TearDown() override
    {
        g_hwndHost = nullptr;
        DestroyHostWindow(m_window);
    }
    void Drain()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    HWND m_window = nullptr;
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
    Drain();
    const std::pair<WPARAM, LPARAM> expected[] = {{1, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 1}, {0, 1}};
    ASSERT_EQ(g_seen.size(), std::size(expected));
    for (size_t i = 0; i < g_seen.size(); ++i) {
        EXPECT_EQ(g_seen[i].message, g_uMsgXmitRecv);
        EXPECT_EQ(std::pair(g_seen[i].wParam, g_seen[i].lParam), expected[i]) << i;
    }
}

TEST_F(MessagesTest, RequestComPortFromAWorkerReturnsTheHostsReply)
{
    g_reply = 3;
    auto answer = std::async(std::launch::async, [] { return DGRequestComPort(); });
    while (answer.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        Drain();
    EXPECT_EQ(answer.get(), 3);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].message, g_uMsgRequestCom);
    EXPECT_EQ(g_seen[0].wParam, 0u);
    EXPECT_EQ(g_seen[0].lParam, 0);
}

TEST_F(MessagesTest, WithoutAHostWindowNothingIsDeliveredAndNothingBreaks)
{
    g_hwndHost = nullptr;
    EXPECT_FALSE(DGSetXmit(1));
    EXPECT_EQ(DGRequestComPort(), 0);
    Drain();
    EXPECT_TRUE(g_seen.empty());
}

}  // namespace
