// Batch use through the file sound driver, unpaced: a recording decoded to
// stdout as fast as it can be read, a text written as a transmission.
#include <poll.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <ruzada/wave.h>

#include "Commands.h"
#include "Over.h"
#include "Rig.h"
#include "Text.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kCardRate = 8000;
// Once the recording has been captured, what is left in the card's buffers and
// the decoder's look-ahead takes a few receive passes; this long without a
// character or any level means it has all been decoded.
constexpr milliseconds kQuietEnd{500};
constexpr milliseconds kPollPace{10};

class TextToStdout final : public ModuleEvents {
public:
    void OnReceived(uint32_t ch) override
    {
        std::string text;
        AppendUtf8(ch, text);
        std::fwrite(text.data(), 1, text.size(), stdout);
        lastCharacter = Clock::now();
    }
    void OnSent(uint32_t) override {}
    void OnSpectrum() override {}

    Clock::time_point lastCharacter = Clock::now();
};

// Waits up to `limit` for the module's messages and handles them; false when a
// termination signal came.
bool Pump(HostWindow& window, TerminationSignals& signals, milliseconds limit)
{
    pollfd fds[] = {{window.QueueFd(), POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
    poll(fds, 2, static_cast<int>(limit.count()));
    window.Dispatch();
    if ((fds[1].revents & POLLIN) && signals.Take()) {
        std::fprintf(stderr, "dgterm: interrupted\n");
        return false;
    }
    return true;
}

void UseFileDriver(const char* fileVariable, const std::string& path, const char* unusedVariable)
{
    setenv("RUZADA_AUDIODRIVER", "file", 1);
    setenv("RUZADA_AUDIO_PACE", "0", 1);
    setenv(fileVariable, path.c_str(), 1);
    unsetenv(unusedVariable);
}

// How much the module's capture device has taken in, counted past the 2^32
// frames at which the driver's position wraps.
class CapturedFrames {
public:
    // False once no capture device is open: nothing more will come in.
    bool Update()
    {
        DWORD position = 0;
        if (!GetOpenWaveInPosition(&position))
            return false;
        m_total += static_cast<DWORD>(position - m_position);
        m_position = position;
        return true;
    }
    uint64_t Total() const { return m_total; }

private:
    DWORD m_position = 0;
    uint64_t m_total = 0;
};

}  // namespace

int ReceiveFile(const Options& options, TerminationSignals& signals)
{
    SF_INFO info = {};
    SNDFILE* file = sf_open(options.rxFile.c_str(), SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "dgterm: cannot read %s: %s\n", options.rxFile.c_str(), sf_strerror(nullptr));
        return kExitFailure;
    }
    sf_close(file);
    if (info.samplerate != kCardRate) {
        std::fprintf(stderr, "dgterm: %s holds %d samples per second; the card runs at %d (resample it first)\n",
                     options.rxFile.c_str(), info.samplerate, kCardRate);
        return kExitFailure;
    }
    UseFileDriver("RUZADA_AUDIO_IN", options.rxFile, "RUZADA_AUDIO_OUT");
    TextToStdout events;
    Rig rig(options.modulePath, events);
    if (const auto failed = rig.Start(options.mode, -1, true))
        return *failed;

    const uint64_t recordingFrames = static_cast<uint64_t>(info.frames);
    CapturedFrames captured;
    Clock::time_point heard = Clock::now();
    for (;;) {
        if (!Pump(rig.window, signals, kPollPace))
            return kExitFailure;
        const Clock::time_point now = Clock::now();
        // The file driver goes on with silence past the recording's end.
        const bool allCaptured = !captured.Update() || captured.Total() >= recordingFrames;
        if (rig.module.GetDGLevel() > 0.0 || !allCaptured)
            heard = now;
        if (allCaptured && now - std::max(heard, events.lastCharacter) >= kQuietEnd)
            break;
    }
    std::fflush(stdout);
    return kExitOk;
}

int TransmitFile(const Options& options, TerminationSignals& signals)
{
    UseFileDriver("RUZADA_AUDIO_OUT", options.txFile, "RUZADA_AUDIO_IN");
    IgnoredEvents events;
    Rig rig(options.modulePath, events);
    if (const auto failed = rig.Start(options.mode, -1, false))
        return *failed;

    Over over(*rig.station, nullptr);
    std::string error;
    over.Begin(options.text, error);
    // Done once the file has taken the last buffer of the transmission.
    while (over.Advance(Clock::now()) != Over::Phase::Done)
        if (!Pump(rig.window, signals, kPollPace))
            return kExitFailure;
    // Closing the card completes the file.
    rig.station->Stop();
    return kExitOk;
}
