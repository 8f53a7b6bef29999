#include "hostlink/send.h"

#include <memory>
#include <optional>

#include "hostlink/windows.h"
#include "ruzada/guarded.h"
#include "ruzada/kernel.h"

namespace rz::hostlink {

namespace {

// The window may have gone since the message was sent; its sender then gets 0.
LRESULT RunSent(const SentMessage& sent)
{
    std::optional<Window> window = LookUpWindow(sent.window);
    if (!window)
        return 0;
    return window->procedure(sent.window, sent.message, sent.wParam, sent.lParam);
}

}  // namespace

void HandleSentMessages(Queue& queue)
{
    while (std::shared_ptr<SentMessage> sent = queue.TakeSent()) {
        LRESULT result = 0;
        try {
            result = RunSent(*sent);
        } catch (...) {
            // A procedure that throws answers 0 rather than leave its sender waiting.
            if (!abi::__cxa_current_exception_type())
                sent->sender->Answer(*sent, 0);
            RethrowCancellation();
        }
        sent->sender->Answer(*sent, result);
    }
}

}  // namespace rz::hostlink

using namespace rz::hostlink;
using rz::Guarded;

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded(LRESULT{0}, [&]() -> LRESULT {
        std::optional<Window> target = LookUpWindow(window);
        if (!target) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (target->owner.get() == ExistingThreadQueue())
            return target->procedure(window, message, wParam, lParam);
        // The sender needs a queue of its own to keep handling sends while it waits.
        Queue* own = ThreadQueue();
        if (!own)
            return 0;
        auto sent =
            std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam, own->shared_from_this()});
        if (!target->owner->Deliver(sent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        LRESULT result = 0;
        while (!own->WaitForAnswer(*sent, &result))
            HandleSentMessages(*own);
        return result;
    });
}
