// Batch use through the file sound driver, unpaced: a recording decoded to
// stdout as fast as it can be read (or as it comes, from a stream), a text
// written as a transmission.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <ruzada/wave.h>

#include "AudioFile.h"
#include "Commands.h"
#include "Control.h"
#include "ModuleHost.h"
#include "Over.h"
#include "Settings.h"
#include "Text.h"

namespace rz::dgterm {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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
        std::fflush(stdout);
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
    SettingsFile settings(options.mode, options.settings);
    std::string error;
    const std::unique_ptr<RecordingFeed> feed = RecordingFeed::Open(options.rxFile, CardRate(), error);
    if (!feed) {
        std::fprintf(stderr, "dgterm: %s\n", error.c_str());
        return kExitFailure;
    }
    UseFileDriver("RUZADA_AUDIO_IN", feed->DriverPath(), "RUZADA_AUDIO_OUT");
    TextToStdout events;
    ModuleHost host(options.modulePath, events);
    if (const auto failed = host.Start(options.mode, "", true))
        return *failed;
    if (options.carrierHz && !ModeControl(host.module).SetCarrier(*options.carrierHz))
        std::fprintf(stderr, "dgterm: %s does not take --carrier: it has no run-time controls\n", options.mode.c_str());

    CapturedFrames captured;
    Clock::time_point heard = Clock::now();
    for (;;) {
        if (!Pump(host.window, signals, kPollPace)) {
            // The driver may be waiting for a stream that does not come.
            feed->Stop();
            return kExitFailure;
        }
        if (const std::string failure = feed->Error(); !failure.empty()) {
            std::fprintf(stderr, "dgterm: %s\n", failure.c_str());
            return kExitFailure;
        }
        const Clock::time_point now = Clock::now();
        // The file driver goes on with silence past the recording's end.
        const bool allCaptured = !captured.Update() || (feed->Ended() && captured.Total() >= feed->FramesFed());
        if (host.module.GetDGLevel() > 0.0 || !allCaptured)
            heard = now;
        if (allCaptured && now - std::max(heard, events.lastCharacter) >= kQuietEnd)
            break;
    }
    return kExitOk;
}

int TransmitFile(const Options& options, TerminationSignals& signals)
{
    SettingsFile settings(options.mode, options.settings);
    const int rate = options.txRate ? options.txRate : CardRate();
    // The card writes its own rate, mono; anything else is converted afterwards.
    const bool converted = rate != CardRate() || options.txChannels != 1;
    const std::string cardFile = converted ? options.txFile + ".dgterm-card.wav" : options.txFile;
    UseFileDriver("RUZADA_AUDIO_OUT", cardFile, "RUZADA_AUDIO_IN");
    OverEvents events;
    {
        ModuleHost host(options.modulePath, events);
        if (const auto failed = host.Start(options.mode, "", false))
            return *failed;
        if (options.carrierHz && !ModeControl(host.module).SetCarrier(*options.carrierHz))
            std::fprintf(stderr, "dgterm: %s does not take --carrier: it has no run-time controls\n",
                         options.mode.c_str());
        // A file holds the over and its tail, not idle for as long as the card ran.
        ModeControl(host.module).Write(DG_KEY_IDLE, 0);

        Over over(*host.station, nullptr, {});
        events.over = &over;
        std::string error;
        over.Begin(options.text, error);
        // Done once the file has taken the last buffer of the transmission.
        while (over.Advance(Clock::now()) != Over::Phase::Done)
            if (!Pump(host.window, signals, kPollPace))
                return kExitFailure;
        // Closing the card completes the file.
        host.station->Stop();
    }
    if (!converted)
        return kExitOk;
    std::string error;
    const bool written = ConvertRecording(cardFile, options.txFile, rate, options.txChannels, error);
    std::filesystem::remove(cardFile);
    if (!written) {
        std::fprintf(stderr, "dgterm: %s\n", error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace rz::dgterm
