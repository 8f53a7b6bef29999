// Registered window messages: one identifier per name, process-wide.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include <ruzada/hostlink.h>

#include "PlatformTesting.h"

namespace {

using rz::test::platform::Attempt;
using rz::test::platform::Outcome;

TEST(HostLinkRegistry, EachNameHasOneIdentifierInRangeWhateverItsCase)
{
    const UINT id = RegisterWindowMessageA("HL_REGISTRY_CASE");
    EXPECT_EQ(RegisterWindowMessageA("hl_registry_case"), id);
    EXPECT_EQ(RegisterWindowMessageA("Hl_Registry_Case"), id);
    std::set<UINT> ids{id};
    for (int i = 0; i < 200; ++i)
        ids.insert(RegisterWindowMessageA(("HL_REGISTRY_DISTINCT_" + std::to_string(i)).c_str()));
    EXPECT_EQ(ids.size(), 201u);
    EXPECT_GE(*ids.begin(), 0xC000u);
    EXPECT_LE(*ids.rbegin(), 0xFFFFu);
    // Names that differ only beyond ASCII letters are not folded together.
    EXPECT_NE(RegisterWindowMessageA("HL_REGISTRY_[1]"), RegisterWindowMessageA("HL_REGISTRY_{1}"));
    EXPECT_EQ(Attempt([] { return RegisterWindowMessageA(nullptr); }), (Outcome{0, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

}  // namespace
