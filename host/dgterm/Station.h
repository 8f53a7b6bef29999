// The module at work for dgterm: bound to a host window of this thread, one mode
// selected, the sound card running.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HostWindow.h"
#include "Module.h"

namespace rz::dgterm {

struct ModeInfo {
    uint64_t mask;
    std::string name;
    std::string file;
};

class Station {
public:
    // Binds `window` with InitDG, which finds the snap-ins beside the module.
    Station(Module& module, HostWindow& window);
    // Stops the card and leaves the mode.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    std::vector<ModeInfo> Modes() const;
    // The mode of that name, without regard to case; 0 when there is none.
    uint64_t FindMode(const std::string& name) const;
    std::string ModeName(uint64_t mode) const;

    // Selects `mode` and runs the card on `device` (-1 the default), receiving when
    // `receive` is set. False with the reason in `error` when the card does not open.
    bool Start(uint64_t mode, int device, bool receive, std::string& error);
    // Another mode on the running card.
    void SelectMode(uint64_t mode);
    // Switches transmit; receive stays as Start set it.
    void SetTransmit(bool on);
    // Throws away what is still to be sent: the characters queued in the module
    // and the audio on its way to the card. The module has no call for it, but
    // its transmit thread encodes all queued characters straight through, without
    // playing them, while the card is closed under it; reopening the card after
    // transmit is off drops the audio it held.
    void DiscardTransmission();
    // Closes the card and opens it again (on a sound server that came back).
    bool Reopen();
    void Stop();

    Module& Api() { return m_module; }

private:
    void ApplySoundMode();

    Module& m_module;
    int m_device = -1;
    bool m_receive = false;
    bool m_transmit = false;
    bool m_running = false;
};

// The sound driver in use ("loopback", "portaudio", ...), as the platform names it.
std::string SoundDriverName();

}  // namespace rz::dgterm
