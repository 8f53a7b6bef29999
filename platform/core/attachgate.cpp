#include "core/attachgate.h"

#include <mutex>
#include <utility>
#include <vector>

#include "ruzada/kernel.h"

namespace rz::kernel {
namespace {

struct Gate {
    std::mutex lock;
    unsigned depth = 0;
    std::vector<std::function<void()>> held;
};

// Never destroyed: a library may attach or detach while the process exits.
Gate& TheGate()
{
    static Gate& gate = *new Gate;
    return gate;
}

}  // namespace

bool HoldUntilAttachEnds(std::function<void()> release)
{
    Gate& gate = TheGate();
    std::lock_guard hold(gate.lock);
    if (gate.depth == 0)
        return false;
    gate.held.push_back(std::move(release));
    return true;
}

}  // namespace rz::kernel

using rz::kernel::TheGate;

void BeginModuleAttach(void)
{
    std::lock_guard hold(TheGate().lock);
    ++TheGate().depth;
}

void EndModuleAttach(void)
{
    std::vector<std::function<void()>> released;
    {
        std::lock_guard hold(TheGate().lock);
        if (TheGate().depth == 0 || --TheGate().depth > 0)
            return;
        released.swap(TheGate().held);
    }
    for (const auto& release : released)
        release();
}
