#include "CursesScreen.h"
#include "PlainScreen.h"
#include "Settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <cctype>

#include <curses.h>

namespace rz::dgterm {
namespace {

constexpr size_t kReceivedLines = 500;
constexpr int kBarWidth = 20;
constexpr int kCtrlC = 3;
constexpr int kEscape = 27;
constexpr double kTuneStepHz = 10.0;
constexpr double kFineTuneStepHz = 1.0;

// Colour pairs: 1 to 9 the waterfall's shades, then the texts.
constexpr short kSentPair = 10;
constexpr short kTransmitPair = 11;
constexpr short kMarkerPair = 12;
constexpr short kUnsentPair = 13;
constexpr short kShadeBackground[kShades] = {-1,          COLOR_BLUE,  COLOR_BLUE,   COLOR_CYAN, COLOR_CYAN,
                                             COLOR_GREEN, COLOR_GREEN, COLOR_YELLOW, COLOR_RED,  COLOR_MAGENTA};

void StartColours()
{
    if (!has_colors())
        return;
    start_color();
    use_default_colors();
    for (short shade = 1; shade < kShades; ++shade)
        init_pair(shade, COLOR_BLACK, kShadeBackground[shade]);
    init_pair(kSentPair, COLOR_YELLOW, -1);
    init_pair(kTransmitPair, COLOR_WHITE, COLOR_RED);
    init_pair(kMarkerPair, COLOR_RED, -1);
    init_pair(kUnsentPair, COLOR_RED, -1);
}

// The last `width` bytes of `text`: what fits at the end of a line.
std::string Tail(const std::string& text, int width)
{
    const size_t room = static_cast<size_t>(std::max(width, 0));
    return text.size() <= room ? text : text.substr(text.size() - room);
}

std::string OneRow(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char ch) { return ch == '\r' || ch == '\n'; }, ' ');
    return text;
}

bool IsEnter(int key) { return key == '\n' || key == '\r' || key == KEY_ENTER; }

// The quality as a bar with the squelch's place in it, or the audio level when
// the mode tells no quality.
std::string Bar(double fraction, std::optional<int> threshold)
{
    const int filled = std::clamp(static_cast<int>(fraction * kBarWidth + 0.5), 0, kBarWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBarWidth, ' ');
    if (threshold)
        bar[static_cast<size_t>(std::clamp(*threshold * kBarWidth / 100, 0, kBarWidth - 1))] = '|';
    return "[" + bar + "]";
}

std::string StatusText(const Status& status)
{
    char text[160];
    std::string line = " " + status.mode;
    if (!status.device.empty())
        line += "  ! " + status.device + " !";
    if (const std::optional<Tuning>& tuning = status.tuning) {
        std::snprintf(text, sizeof text, "  %.1f Hz", tuning->carrierHz);
        line += text;
        if (tuning->afc) {
            std::snprintf(text, sizeof text, "  AFC %s %.1f Hz", *tuning->afc ? "on" : "off",
                          tuning->trackedHz.value_or(tuning->carrierHz));
            line += text;
        }
        if (tuning->reverse && *tuning->reverse)
            line += "  reverse";
        if (tuning->heardWpm) {
            std::snprintf(text, sizeof text, "  %d wpm", *tuning->heardWpm);
            line += text;
        }
    }
    if (status.tuning && status.tuning->quality) {
        const int quality = *status.tuning->quality;
        const std::optional<int> squelch = status.tuning->squelch;
        std::snprintf(text, sizeof text, "  quality %s %3d", Bar(quality / 100.0, squelch).c_str(), quality);
        line += text;
        if (squelch) {
            std::snprintf(text, sizeof text, " squelch %d %s", *squelch, quality >= *squelch ? "open" : "shut");
            line += text;
        }
        std::snprintf(text, sizeof text, "  audio %.0f%%", status.level * 100.0);
    } else {
        std::snprintf(text, sizeof text, "  level %s %3.0f%%", Bar(status.level, std::nullopt).c_str(),
                      status.level * 100.0);
    }
    line += text;
    if (status.limiter > 0.0) {
        std::snprintf(text, sizeof text, "  limiter %.0f%%", status.limiter * 100.0);
        line += text;
    }
    if (status.dialHz) {
        std::snprintf(text, sizeof text, "  dial %.6f MHz", *status.dialHz / 1e6);
        line += text;
    }
    if (!status.call.empty())
        line += "  call " + status.call;
    if (!status.ptt.empty())
        line += "  PTT " + status.ptt;
    return line + "  sound " + status.driver;
}

}  // namespace

CursesScreen::CursesScreen(const ScreenSetup& setup) : m_takesInput(setup.takesInput)
{
    if (!newterm(nullptr, stdout, stdin))
        return;
    // Without cursor addressing every frame would be drawn as a scroll of garbage.
    const char* address = tigetstr(const_cast<char*>("cup"));
    if (address == nullptr || address == reinterpret_cast<char*>(-1)) {
        endwin();
        return;
    }
    m_usable = true;
    // Sound libraries report their troubles on stderr (PortAudio's ALSA host
    // does when a sound server goes); on the screen that would tear it apart.
    std::fflush(stderr);
    m_savedStderr = dup(STDERR_FILENO);
    if (const int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC); nothing >= 0) {
        dup2(nothing, STDERR_FILENO);
        close(nothing);
    }
    raw();
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
    mouseinterval(0);
    StartColours();
}

CursesScreen::~CursesScreen()
{
    if (m_usable)
        endwin();
    if (m_savedStderr >= 0) {
        dup2(m_savedStderr, STDERR_FILENO);
        close(m_savedStderr);
    }
}

void CursesScreen::ShowReceived(const std::string& text)
{
    for (char ch : text) {
        if (ch == '\n')
            m_received.emplace_back();
        else if (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F)
            m_received.back() += ch;
    }
    while (m_received.size() > kReceivedLines)
        m_received.pop_front();
    m_dirty = true;
}

void CursesScreen::ShowOver(const OverText& over)
{
    m_over = {OneRow(over.sent), OneRow(over.pending), OneRow(over.unsent)};
    m_dirty = true;
}

void CursesScreen::AddSpectrum(const Spectrum& spectrum)
{
    m_spectra.push_front(spectrum);
    if (m_spectra.size() > static_cast<size_t>(std::max(LINES, 1)))
        m_spectra.pop_back();
    m_dirty = true;
}

void CursesScreen::ShowStatus(const Status& status)
{
    // The level moves all the time: the screen is drawn at the session's pace.
    m_status = status;
    m_dirty = true;
}

void CursesScreen::ShowNotice(const std::string& text)
{
    m_notice = text;
    m_dirty = true;
}

int CursesScreen::InputFd() const { return STDIN_FILENO; }

std::vector<Input> CursesScreen::ReadInput()
{
    std::vector<Input> inputs;
    for (int key; (key = getch()) != ERR;)
        HandleKey(key, inputs);
    return inputs;
}

void CursesScreen::HandleKey(int key, std::vector<Input>& inputs)
{
    using Kind = Input::Kind;
    m_dirty = true;
    if (key == kCtrlC) {
        inputs.push_back({Kind::Quit});
    } else if (key == kEscape && m_status.transmitting) {
        inputs.push_back({Kind::Abort});
    } else if (key == KEY_UP) {
        inputs.push_back({Kind::SquelchUp});
    } else if (key == KEY_DOWN) {
        inputs.push_back({Kind::SquelchDown});
    } else if (key == KEY_LEFT || key == KEY_RIGHT || key == KEY_SLEFT || key == KEY_SRIGHT) {
        const double step = key == KEY_LEFT || key == KEY_RIGHT ? kTuneStepHz : kFineTuneStepHz;
        inputs.push_back({Kind::Tune, {}, key == KEY_LEFT || key == KEY_SLEFT ? -step : step});
    } else if (key >= KEY_F(1) && key <= KEY_F(StationSettings::kMacros)) {
        inputs.push_back({Kind::Macro, {}, static_cast<double>(key - KEY_F(1))});
    } else if (key == KEY_MOUSE) {
        HandleMouse(inputs);
    } else if (m_editing != Editing::None) {
        HandleEditKey(key, inputs);
    } else if (key == 'q' || key == 'Q') {
        inputs.push_back({Kind::Quit});
    } else if (key == '+' || key == '=') {
        inputs.push_back({Kind::SquelchUp});
    } else if (key == '-') {
        inputs.push_back({Kind::SquelchDown});
    } else if (key == 'a' || key == 'A') {
        inputs.push_back({Kind::ToggleAfc});
    } else if (key == 'r' || key == 'R') {
        inputs.push_back({Kind::ToggleReverse});
    } else if (key == 'm' || key == 'M') {
        inputs.push_back({Kind::NextMode});
    } else if (m_takesInput && (key == 'c' || key == 'C')) {
        m_editing = Editing::Call;
    } else if (m_takesInput && (key == 't' || key == 'T' || IsEnter(key))) {
        m_editing = Editing::Line;
    }
}

void CursesScreen::HandleEditKey(int key, std::vector<Input>& inputs)
{
    if (key == kEscape) {
        m_editing = Editing::None;
        m_edit.clear();
    } else if (IsEnter(key)) {
        if (m_editing == Editing::Call)
            inputs.push_back({Input::Kind::Call, m_edit});
        else if (!m_edit.empty())
            inputs.push_back({Input::Kind::Line, m_edit});
        m_editing = Editing::None;
        m_edit.clear();
    } else if (key == KEY_BACKSPACE || key == 127 || key == 8) {
        if (!m_edit.empty())
            m_edit.pop_back();
    } else if (key >= 0x20 && key < 0x7F) {
        m_edit += static_cast<char>(m_editing == Editing::Call ? std::toupper(key) : key);
    }
}

void CursesScreen::HandleMouse(std::vector<Input>& inputs)
{
    MEVENT event = {};
    if (getmouse(&event) != OK || !(event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)))
        return;
    // The waterfall and the scale under it tune to the column's middle.
    if (event.y <= WaterfallRows() && COLS > 0)
        inputs.push_back({Input::Kind::TuneTo, {}, (event.x + 0.5) * kSpectrumHz / COLS});
}

int CursesScreen::WaterfallRows() const { return std::max(2, (LINES - 6) * 2 / 5); }

void CursesScreen::Refresh()
{
    if (!m_usable || !m_dirty)
        return;
    m_dirty = false;
    erase();
    const int waterfallRows = WaterfallRows();
    DrawWaterfall(waterfallRows);
    DrawScale(waterfallRows);
    DrawReceived(waterfallRows + 1, LINES - 4 - (waterfallRows + 1));
    DrawStatus(LINES - 4);
    DrawBottom();
    refresh();
}

void CursesScreen::DrawWaterfall(int rows)
{
    if (!m_status.spectrumOn) {
        mvprintw(rows / 2, 1, "No spectrum: the module's setting UseFFT is off (section RUZada of RUZada.ini).");
        return;
    }
    for (int row = 0; row < rows && row < static_cast<int>(m_spectra.size()); ++row) {
        const std::vector<uint8_t> shades = WaterfallRow(m_spectra[static_cast<size_t>(row)], COLS);
        move(row, 0);
        for (uint8_t shade : shades) {
            attrset(shade > 0 && has_colors() ? COLOR_PAIR(shade) : A_NORMAL);
            addch(static_cast<chtype>(kShadeChars[shade]));
        }
    }
    attrset(A_NORMAL);
}

void CursesScreen::DrawScale(int row)
{
    mvhline(row, 0, '-', COLS);
    for (int khz = 0; khz < 4; ++khz) {
        const int column = FrequencyColumn(khz * 1000.0, COLS);
        mvprintw(row, column, "%dk", khz);
    }
    attrset(COLOR_PAIR(kMarkerPair) | A_BOLD);
    if (m_status.tuning && m_status.tuning->trackedHz)
        if (const int column = FrequencyColumn(*m_status.tuning->trackedHz, COLS); column >= 0)
            mvaddch(row, column, '|');
    for (double tone : m_status.tones)
        if (const int column = FrequencyColumn(tone, COLS); column >= 0)
            mvaddch(row, column, '^');
    attrset(A_NORMAL);
}

void CursesScreen::DrawReceived(int top, int rows)
{
    // Wrap the newest lines into the pane, bottom up.
    int row = top + rows - 1;
    const size_t width = static_cast<size_t>(std::max(COLS, 1));
    for (auto line = m_received.rbegin(); line != m_received.rend() && row >= top; ++line) {
        const size_t pieces = std::max<size_t>(1, (line->size() + width - 1) / width);
        for (size_t piece = pieces; piece-- > 0 && row >= top; --row)
            mvaddnstr(row, 0, line->c_str() + piece * width, static_cast<int>(width));
    }
}

void CursesScreen::DrawStatus(int row)
{
    attrset(m_status.transmitting ? COLOR_PAIR(kTransmitPair) | A_BOLD : A_REVERSE);
    mvprintw(row, 0, " %s ", m_status.transmitting ? "TX" : "RX");
    attrset(A_REVERSE);
    std::string text = StatusText(m_status);
    text.resize(static_cast<size_t>(std::max(COLS - 4, 0)), ' ');
    addstr(text.c_str());
    attrset(A_NORMAL);
}

void CursesScreen::DrawBottom()
{
    // The over: sent in colour, still to go plain, not sent (stopped) struck out.
    mvaddstr(LINES - 3, 0, "TX: ");
    const int room = COLS - 4;
    const std::string stopped = m_over.unsent.empty() ? "" : " [not sent: " + m_over.unsent + "]";
    const std::string whole = m_over.sent + m_over.pending + stopped;
    const size_t skip = whole.size() > static_cast<size_t>(std::max(room, 0)) ? whole.size() - room : 0;
    const auto part = [&](const std::string& text, size_t from) {
        return from >= skip ? text : skip - from >= text.size() ? std::string() : text.substr(skip - from);
    };
    attrset(COLOR_PAIR(kSentPair) | A_BOLD);
    addstr(part(m_over.sent, 0).c_str());
    attrset(A_NORMAL);
    addstr(part(m_over.pending, m_over.sent.size()).c_str());
    attrset(COLOR_PAIR(kUnsentPair));
    addstr(part(stopped, m_over.sent.size() + m_over.pending.size()).c_str());
    attrset(A_NORMAL);
    if (m_editing != Editing::None) {
        const char* prompt = m_editing == Editing::Call ? "call> " : "> ";
        mvaddstr(LINES - 2, 0, prompt);
        addstr(Tail(m_edit, COLS - 7).c_str());
    } else {
        mvaddstr(LINES - 2, 0, Tail(m_notice, COLS).c_str());
    }
    const char* keys =
        m_editing != Editing::None ? "Enter take  Esc cancel  Left/Right tune  Up/Down squelch  Ctrl-C quit"
        : m_takesInput
            ? "t type  c call  F1-F8 macros  Left/Right tune  a AFC  r reverse  m mode  +/- squelch  Esc stop  q quit"
            : "Left/Right tune  a AFC  r reverse  +/- squelch  q quit";
    mvaddnstr(LINES - 1, 0, keys, COLS);
    if (m_editing != Editing::None) {
        move(LINES - 2, static_cast<int>(std::string(m_editing == Editing::Call ? "call> " : "> ").size() +
                                         Tail(m_edit, COLS - 7).size()));
        curs_set(1);
    } else {
        curs_set(0);
    }
}

std::unique_ptr<Screen> MakeScreen(const ScreenSetup& setup)
{
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) {
        auto screen = std::make_unique<CursesScreen>(setup);
        if (screen->Usable())
            return screen;
    }
    return std::make_unique<PlainScreen>(setup);
}

}  // namespace rz::dgterm
