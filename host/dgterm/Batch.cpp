// Batch use through the file sound driver, unpaced: a recording decoded to
// stdout as fast as it can be read, a text written as a transmission.
#include <poll.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Commands.h"
#include "Over.h"
#include "Rig.h"
#include "Text.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kCardRate = 8000;
// Once the recording has been read, what is left in the card's buffers and the
// decoder's look-ahead takes a few receive passes; this long without a character
// or any level means it has all been decoded.
constexpr milliseconds kQuietEnd{500};
// Unpaced, the file takes audio as fast as the module hands it over: once the
// file stops growing for this long, the transmission has all been written.
constexpr milliseconds kSettled{200};
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

// The file sound driver reads the recording in this process; it has read it all
// once no descriptor here is open on it, or every one stands at its end.
bool ReadToEnd(const std::filesystem::path& recording, std::uintmax_t size)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(entry.path(), linkError) != recording)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        std::string field;
        std::uintmax_t position = 0;
        while (info >> field && field != "pos:")
            ;
        if (!(info >> position) || position < size)
            return false;
    }
    return true;
}

std::uintmax_t FileSize(const std::string& path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

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

    std::error_code error;
    const std::filesystem::path recording = std::filesystem::canonical(options.rxFile, error);
    const std::uintmax_t size = FileSize(options.rxFile);
    Clock::time_point heard = Clock::now();
    for (bool read = false;;) {
        if (!Pump(rig.window, signals, kPollPace))
            return kExitFailure;
        const Clock::time_point now = Clock::now();
        if (rig.module.GetDGLevel() > 0.0 || !(read = read || ReadToEnd(recording, size)))
            heard = now;
        if (read && now - std::max(heard, events.lastCharacter) >= kQuietEnd)
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

    Over over(*rig.station, nullptr, milliseconds(0));
    std::string error;
    over.Begin(options.text, error);
    while (over.Advance(Clock::now()) != Over::Phase::Done)
        if (!Pump(rig.window, signals, kPollPace))
            return kExitFailure;
    std::uintmax_t size = FileSize(options.txFile);
    for (Clock::time_point grew = Clock::now(); Clock::now() - grew < kSettled;) {
        if (!Pump(rig.window, signals, kPollPace))
            return kExitFailure;
        if (const std::uintmax_t now = FileSize(options.txFile); now != size) {
            size = now;
            grew = Clock::now();
        }
    }
    // Closing the card completes the file.
    rig.station->Stop();
    return kExitOk;
}
