// What dgterm shows and the keys it takes: a full screen on a terminal that can
// address its cursor, plain lines otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Control.h"
#include "Waterfall.h"

namespace rz::dgterm {

struct Status {
    std::string mode;
    std::string driver;
    std::string ptt;     // the keyer's name, or "" without push-to-talk
    std::string device;  // a notice about the sound device, or "" when all is well
    bool transmitting = false;
    double level = 0.0;    // 0.00 to 1.00
    double limiter = 0.0;  // the module's level gate, 0 off
    std::optional<Tuning> tuning;
    std::vector<double> tones;  // where the decoder listens, Hz
    std::optional<double> dialHz;
    std::string call;  // the other station's
    bool spectrumOn = true;
};

// The text of the over on the air: what the module has sent, what is still to
// go, and what a stopped over did not send.
struct OverText {
    std::string sent;
    std::string pending;
    std::string unsent;
};

struct Input {
    enum class Kind {
        Line,    // text to send
        Call,    // the other station's call, in `text`
        Macro,   // F1 to F8: `value` 0 to 7
        Tune,    // by `value` Hz
        TuneTo,  // to `value` Hz
        ToggleAfc,
        ToggleReverse,
        NextMode,
        SquelchUp,
        SquelchDown,
        Abort,  // stop sending
        Quit
    };
    Kind kind;
    std::string text = {};
    double value = 0.0;
};

class Screen {
public:
    virtual ~Screen() = default;
    // A decoded character, UTF-8.
    virtual void ShowReceived(const std::string& text) = 0;
    virtual void ShowOver(const OverText& over) = 0;
    virtual void AddSpectrum(const Spectrum& spectrum) = 0;
    virtual void ShowStatus(const Status& status) = 0;
    // An error or notice for the user.
    virtual void ShowNotice(const std::string& text) = 0;
    // The descriptor to poll for keys or lines; -1 when there is no input.
    virtual int InputFd() const = 0;
    virtual std::vector<Input> ReadInput() = 0;
    // True once lines read from a pipe or file have all been read.
    virtual bool InputEnded() const = 0;
    // Draws what changed.
    virtual void Refresh() = 0;
    // True for the full screen, which a person watches.
    virtual bool Watched() const = 0;
};

struct ScreenSetup {
    bool takesInput = true;  // keys (or lines on stdin) are read
};

// The full screen when stdin and stdout are a terminal that curses can drive
// with cursor addressing, else plain lines: decoded text on stdout, notices on
// stderr.
std::unique_ptr<Screen> MakeScreen(const ScreenSetup& setup);

}  // namespace rz::dgterm
