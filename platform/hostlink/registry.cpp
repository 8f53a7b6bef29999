#include <mutex>
#include <string>
#include <unordered_map>

#include "ruzada/guarded.h"
#include "ruzada/hostlink.h"
#include "ruzada/kernel.h"

namespace {

constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;

// Names compare as Windows atoms do for ASCII: without regard to case, whatever
// the locale.
std::string FoldCase(const char* name)
{
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

struct Registry {
    std::mutex lock;
    std::unordered_map<std::string, UINT> ids;
    UINT next = kFirstRegisteredMessage;
};

// Never destroyed: libraries register from their constructors and may look names
// up again from their destructors, in any order against ours.
Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

UINT RegisterWindowMessageA(const char* name)
{
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return rz::Guarded(UINT{0}, [&] {
        std::string key = FoldCase(name);
        Registry& registry = TheRegistry();
        std::lock_guard hold(registry.lock);
        if (auto found = registry.ids.find(key); found != registry.ids.end())
            return found->second;
        if (registry.next > kLastRegisteredMessage) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return UINT{0};
        }
        const UINT id = registry.next++;
        registry.ids.emplace(std::move(key), id);
        return id;
    });
}
