// What dgterm shows and the keys it takes: a full screen on a terminal, plain
// lines otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Waterfall.h"

struct Status {
    std::string mode;
    std::string driver;
    std::string ptt;  // "COM3", or "" without push-to-talk
    bool transmitting = false;
    double level = 0.0;    // 0.00 to 1.00
    double squelch = 0.0;  // same scale
    bool spectrumOn = true;
};

struct Input {
    enum class Kind { Line, SquelchUp, SquelchDown, Quit };
    Kind kind;
    std::string line;
};

class Screen {
public:
    virtual ~Screen() = default;
    // A decoded character, UTF-8.
    virtual void ShowReceived(const std::string& text) = 0;
    // A character that the module confirmed as sent; a new over starts afresh.
    virtual void BeginOver() = 0;
    virtual void ShowSent(const std::string& text) = 0;
    virtual void AddSpectrum(const Spectrum& spectrum) = 0;
    virtual void ShowStatus(const Status& status) = 0;
    // An error or notice for the user.
    virtual void ShowNotice(const std::string& text) = 0;
    // The descriptor to poll for keys or lines; -1 when there is no input.
    virtual int InputFd() const = 0;
    virtual std::vector<Input> ReadInput() = 0;
    // Draws what changed.
    virtual void Refresh() = 0;
    // True for the full screen, which a person watches.
    virtual bool Watched() const = 0;
};

struct ScreenSetup {
    std::vector<double> tones;  // marked on the waterfall, Hz
    bool takesInput = true;     // keys (or lines on stdin) are read
};

// The full screen when stdin and stdout are a terminal that curses can drive,
// else plain lines: decoded text on stdout, notices on stderr.
std::unique_ptr<Screen> MakeScreen(const ScreenSetup& setup);
