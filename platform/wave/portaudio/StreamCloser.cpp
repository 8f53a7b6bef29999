#include "wave/portaudio/StreamCloser.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace rz::wave {
namespace {

std::atomic<int> pendingCloses{0};

struct Closing {
    std::mutex lock;
    std::condition_variable done;
    bool closed = false;
};

void Close(PaStream* stream)
{
    Pa_AbortStream(stream);
    Pa_CloseStream(stream);
}

}  // namespace

void CloseStream(PaStream* stream, std::shared_ptr<const void> callbackState, std::chrono::milliseconds bound)
{
    auto closing = std::make_shared<Closing>();
    pendingCloses.fetch_add(1);
    try {
        std::thread([stream, state = callbackState, closing]() mutable {
            Close(stream);
            state.reset();
            pendingCloses.fetch_sub(1);
            std::lock_guard lock(closing->lock);
            closing->closed = true;
            closing->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the close can only be waited for here, with the
        // callback's state still held.
        pendingCloses.fetch_sub(1);
        Close(stream);
        return;
    }
    std::unique_lock lock(closing->lock);
    closing->done.wait_for(lock, bound, [&] { return closing->closed; });
}

bool AnyClosePending() { return pendingCloses.load() > 0; }

}  // namespace rz::wave
