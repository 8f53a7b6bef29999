// Registered window messages: one identifier per name, process-wide.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>

namespace {

TEST(HostLinkRegistry, ANameKeepsItsIdentifierWhateverItsCase)
{
    const UINT id = RegisterWindowMessageA("HL_REGISTRY_CASE");
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessageA("HL_REGISTRY_CASE"), id);
    EXPECT_EQ(RegisterWindowMessageA("hl_registry_case"), id);
    EXPECT_EQ(RegisterWindowMessageA("Hl_Registry_Case"), id);
}

TEST(HostLinkRegistry, DifferentNamesGetDifferentIdentifiersInRange)
{
    std::set<UINT> ids;
    for (int i = 0; i < 200; ++i) {
        const UINT id = RegisterWindowMessageA(("HL_REGISTRY_DISTINCT_" + std::to_string(i)).c_str());
        EXPECT_GE(id, 0xC000u);
        EXPECT_LE(id, 0xFFFFu);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 200u);
    // Names that differ only beyond ASCII letters are not folded together.
    EXPECT_NE(RegisterWindowMessageA("HL_REGISTRY_[1]"), RegisterWindowMessageA("HL_REGISTRY_{1}"));
}

TEST(HostLinkRegistry, ThreadsRegisteringTogetherAgreeOnEveryIdentifier)
{
    constexpr int kThreads = 4;
    constexpr int kNames = 50;
    std::vector<std::vector<UINT>> seen(kThreads, std::vector<UINT>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            for (int n = 0; n < kNames; ++n) {
                std::string name = "HL_REGISTRY_SHARED_" + std::to_string(n);
                if (t % 2)
                    name[0] = 'h';
                seen[t][n] = RegisterWindowMessageA(name.c_str());
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 1; t < kThreads; ++t)
        EXPECT_EQ(seen[t], seen[0]) << "thread " << t;
    EXPECT_EQ(std::set<UINT>(seen[0].begin(), seen[0].end()).size(), static_cast<size_t>(kNames));
}

TEST(HostLinkRegistry, NullOrEmptyNameGivesZero)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(RegisterWindowMessageA(nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

// Running out would spoil every later registration of the process, so the range
// is used up in a child.
TEST(HostLinkRegistryDeathTest, IdentifiersEndAtFFFFAndKnownNamesStillResolve)
{
    EXPECT_EXIT(
        {
            const UINT known = RegisterWindowMessageA("HL_REGISTRY_KNOWN");
            UINT highest = 0;
            for (int i = 0; i <= 0x4000; ++i) {
                const UINT id = RegisterWindowMessageA(("HL_REGISTRY_FILL_" + std::to_string(i)).c_str());
                if (id == 0)
                    break;
                highest = id;
            }
            const bool full = RegisterWindowMessageA("HL_REGISTRY_ONE_MORE") == 0;
            const bool stillKnown = RegisterWindowMessageA("hl_registry_known") == known;
            std::exit(highest == 0xFFFFu && full && stillKnown ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
