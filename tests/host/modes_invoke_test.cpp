// Calls into the snap-ins of a mode on the host's behalf: which function runs,
// with what, how often, and what the host gets back.
#include <filesystem>

#include "module_fixture.h"

namespace {

using rz::test::host::ModesTest;

TEST_F(ModesTest, InvokeFuncCallsTheNumberedFunctionWithTheHostWindowAndBothValues)
{
    dir.AddTestSnapin("DGmask1.so");
    dir.AddTestSnapin("DGmask4.so");
    const SnapinCallLog* calls = Calls("DGmask1.so");
    ASSERT_NE(calls, nullptr);
    ASSERT_EQ(api.InitDG(host.Handle()), 5u);

    EXPECT_EQ(api.InvokeRUZadaFunc(1, 7, 11, 0xFFFFFFFFu), kFuncResultBase + 1);
    EXPECT_EQ(calls->funcCalls, 1);
    EXPECT_EQ(calls->funcHost, host.Handle());
    EXPECT_EQ(calls->funcA, 11u);
    EXPECT_EQ(calls->funcB, 0xFFFFFFFFu);

    // Another number, a snap-in without the function, a mode without a record.
    EXPECT_EQ(api.InvokeRUZadaFunc(1, 8, 0, 0), 2);
    EXPECT_EQ(api.InvokeRUZadaFunc(4, 7, 0, 0), 2);
    EXPECT_EQ(api.InvokeRUZadaFunc(2, 7, 0, 0), 2);
    EXPECT_EQ(api.InvokeRUZadaSetup(4), 2);
    EXPECT_EQ(api.InvokeRUZadaSetup(2), 2);
    EXPECT_EQ(calls->funcCalls, 1);
    EXPECT_EQ(calls->setupCalls, 0);
}

TEST_F(ModesTest, AfterInitDGTwiceSetupRunsOncePerRecordAndTheLastAnswerIsReturned)
{
    dir.AddTestSnapin("DGmask1.so");
    const SnapinCallLog* calls = Calls("DGmask1.so");
    ASSERT_NE(calls, nullptr);
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);

    EXPECT_EQ(api.InvokeRUZadaSetup(1), kSetupResultBase + 2);
    EXPECT_EQ(calls->setupCalls, 2);
    EXPECT_EQ(calls->setupHost, host.Handle());
}

TEST_F(ModesTest, TheInvokeWalkSkipsASnapinThatNoLongerLoadsAndGoesOn)
{
    for (const char* name : {"DGa.so", "DGb.so", "DGc.so"})
        dir.AddTestSnapin("DGmask1.so", name);
    const SnapinCallLog* first = Calls("DGa.so");
    const SnapinCallLog* last = Calls("DGc.so");
    ASSERT_TRUE(first && last);
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);
    std::filesystem::remove(PathOf("DGb.so"));

    EXPECT_EQ(api.InvokeRUZadaSetup(1), kSetupResultBase + 1);
    EXPECT_EQ(first->setupCalls, 1);
    EXPECT_EQ(last->setupCalls, 1);
}

}  // namespace
