// Closing a PortAudio stream whose sound server went away can wait for good:
// the ALSA layer's stream thread spins and aborting it never returns. A stream
// is therefore closed on a thread of its own, waited for a bounded time, and
// left behind, with all its callback reaches, when it does not close by then.
#pragma once

#include <portaudio.h>

#include <chrono>
#include <memory>

namespace rz::wave {

// Aborts and closes `stream`, keeping `callbackState` alive until the close has
// returned; waits for that at most `bound`.
void CloseStream(PaStream* stream, std::shared_ptr<const void> callbackState, std::chrono::milliseconds bound);

// Whether a close has not returned yet. PortAudio must not be restarted then:
// Pa_Terminate closes every open stream, that one too, and would wait as long.
bool AnyClosePending();

}  // namespace rz::wave
