// The loop of an interactive session, which the demo runs too: the module's
// messages, the keys and the termination signals in one poll, at most one over on
// the air, and what the module reports on the screen.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "HostWindow.h"
#include "Over.h"
#include "Screen.h"
#include "Signals.h"
#include "Station.h"

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
    // session as its events. `ptt` may be null.
    void Bind(Station& station, HostWindow& window, Screen& screen, Ptt* ptt);

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
    void ChangeSquelch(long stepPercent);
    void AdvanceOver();
    void UpdateStatus();

    TerminationSignals* m_signals;
    Status m_status;
    Station* m_station = nullptr;
    HostWindow* m_window = nullptr;
    Screen* m_screen = nullptr;
    Ptt* m_ptt = nullptr;
    std::unique_ptr<Over> m_over;
    std::string m_waiting;  // for the next over
    std::string m_received;
    bool m_quit = false;
};
