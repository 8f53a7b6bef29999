// The loop of an interactive session, which the demo runs too: the module's
// messages, the keys and the termination signals in one poll, at most one over on
// the air, the mode tuned through its controls, and what the module reports on
// the screen and in the log.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Control.h"
#include "HostWindow.h"
#include "Log.h"
#include "Over.h"
#include "Rig.h"
#include "Screen.h"
#include "Settings.h"
#include "Signals.h"
#include "Station.h"

namespace rz::dgterm {

// What a session may have beside the module: all optional.
struct SessionGear {
    Keyer* keyer = nullptr;
    PttTiming timing;
    Rig* rig = nullptr;
    Log* log = nullptr;
    StationSettings station;
};

class Session final : public ModuleEvents {
public:
    using Clock = std::chrono::steady_clock;
    // Text on its way, per over and waiting for the next: 45 minutes of RTTY.
    static constexpr size_t kMostQueued = 16384;
    static constexpr size_t kKeptReceived = 65536;

    // `signals` may be null.
    Session(TerminationSignals* signals, Status status);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // What the session drives, once it exists: the window was made with this
    // session as its events, and the station runs the mode of the status.
    void Bind(Station& station, HostWindow& window, Screen& screen, SessionGear gear = {});

    // Sends `text` on the over on the air while it is still sending, else on the
    // next one. Beyond kMostQueued characters on their way, text is dropped with
    // a notice.
    void Send(const std::string& text);
    // Waits up to `limit` for a message, a key or a signal, and handles what came.
    void Step(std::chrono::milliseconds limit);
    bool QuitRequested() const { return m_quit; }
    // The text decoded so far, UTF-8 (its last kKeptReceived bytes).
    const std::string& Received() const { return m_received; }
    // Stops the card, then unkeys (the transmitter drops after the last sample);
    // the session drives nothing after that. Due before the station goes.
    void Close();

    void OnReceived(uint32_t ch) override;
    void OnSent(uint32_t ch) override;
    void OnSpectrum() override;

private:
    void Handle(const Input& input);
    void Tune(std::optional<double> toHz, double byHz);
    void Toggle(DGControlKey key, const char* what);
    void ChangeSquelch(int step);
    void NextMode();
    void SendMacro(int number);
    void Abort();
    void WatchCard();
    void AdvanceOver();
    void ShowOver();
    void UpdateStatus();
    LogContext Context() const;

    TerminationSignals* m_signals;
    Status m_status;
    Station* m_station = nullptr;
    HostWindow* m_window = nullptr;
    Screen* m_screen = nullptr;
    SessionGear m_gear;
    std::optional<ModeControl> m_control;
    std::vector<ModeInfo> m_modes;
    uint64_t m_mode = 0;
    std::map<uint64_t, double> m_carriers;  // each mode's, when left
    std::unique_ptr<Over> m_over;
    std::string m_waiting;  // for the next over
    std::string m_received;
    Clock::time_point m_nextDialRead;
    std::string m_deviceNotice;  // what the status says of a sound device that works
    bool m_cardLost = false;
    Clock::time_point m_nextReopen;
    bool m_quit = false;
};

}  // namespace rz::dgterm
