#include "CursesScreen.h"
#include "PlainScreen.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <curses.h>

namespace {

constexpr size_t kReceivedLines = 500;
constexpr int kLevelBarWidth = 20;
constexpr int kCtrlC = 3;
constexpr int kEscape = 27;

// Colour pairs: 1 to 9 the waterfall's shades, then the texts.
constexpr short kSentPair = 10;
constexpr short kTransmitPair = 11;
constexpr short kMarkerPair = 12;
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
}

// The last `width` bytes of `text`: what fits at the end of a line.
std::string Tail(const std::string& text, int width)
{
    const size_t room = static_cast<size_t>(std::max(width, 0));
    return text.size() <= room ? text : text.substr(text.size() - room);
}

}  // namespace

CursesScreen::CursesScreen(const ScreenSetup& setup) : m_tones(setup.tones), m_takesInput(setup.takesInput)
{
    if (!newterm(nullptr, stdout, stdin))
        return;
    m_usable = true;
    raw();
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    StartColours();
}

CursesScreen::~CursesScreen()
{
    if (m_usable)
        endwin();
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

void CursesScreen::BeginOver()
{
    m_sent.clear();
    m_dirty = true;
}

void CursesScreen::ShowSent(const std::string& text)
{
    for (char ch : text)
        m_sent += ch == '\r' || ch == '\n' ? ' ' : ch;
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
    m_dirty = true;
    if (key == kCtrlC) {
        inputs.push_back({Input::Kind::Quit, {}});
    } else if (key == KEY_UP || (!m_typing && (key == '+' || key == '='))) {
        inputs.push_back({Input::Kind::SquelchUp, {}});
    } else if (key == KEY_DOWN || (!m_typing && key == '-')) {
        inputs.push_back({Input::Kind::SquelchDown, {}});
    } else if (!m_typing) {
        if (key == 'q' || key == 'Q')
            inputs.push_back({Input::Kind::Quit, {}});
        else if (m_takesInput && (key == 't' || key == 'T' || key == '\n' || key == '\r' || key == KEY_ENTER))
            m_typing = true;
    } else if (key == kEscape) {
        m_typing = false;
        m_edit.clear();
    } else if (key == '\n' || key == '\r' || key == KEY_ENTER) {
        if (!m_edit.empty())
            inputs.push_back({Input::Kind::Line, m_edit});
        m_typing = false;
        m_edit.clear();
    } else if (key == KEY_BACKSPACE || key == 127 || key == 8) {
        if (!m_edit.empty())
            m_edit.pop_back();
    } else if (key >= 0x20 && key < 0x7F) {
        m_edit += static_cast<char>(key);
    }
}

void CursesScreen::Refresh()
{
    if (!m_usable || !m_dirty)
        return;
    m_dirty = false;
    erase();
    const int waterfallRows = std::max(2, (LINES - 6) * 2 / 5);
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
    for (double tone : m_tones)
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
    const int filled = static_cast<int>(m_status.level * kLevelBarWidth + 0.5);
    std::string bar(static_cast<size_t>(std::clamp(filled, 0, kLevelBarWidth)), '#');
    bar.resize(kLevelBarWidth, ' ');
    attrset(m_status.transmitting ? COLOR_PAIR(kTransmitPair) | A_BOLD : A_REVERSE);
    mvprintw(row, 0, " %s ", m_status.transmitting ? "TX" : "RX");
    attrset(A_REVERSE);
    char line[512];
    std::snprintf(line, sizeof line, " %s  level [%s] %3.0f%%  squelch %.0f%%  sound %s%s%s", m_status.mode.c_str(),
                  bar.c_str(), m_status.level * 100.0, m_status.squelch * 100.0, m_status.driver.c_str(),
                  m_status.ptt.empty() ? "" : "  PTT ", m_status.ptt.c_str());
    std::string text = line;
    text.resize(static_cast<size_t>(std::max(COLS - 4, 0)), ' ');
    addstr(text.c_str());
    attrset(A_NORMAL);
}

void CursesScreen::DrawBottom()
{
    mvaddstr(LINES - 3, 0, "TX: ");
    attrset(COLOR_PAIR(kSentPair) | A_BOLD);
    addstr(Tail(m_sent, COLS - 4).c_str());
    attrset(A_NORMAL);
    if (m_typing) {
        mvaddstr(LINES - 2, 0, "> ");
        addstr(Tail(m_edit, COLS - 3).c_str());
    } else {
        mvaddstr(LINES - 2, 0, Tail(m_notice, COLS).c_str());
    }
    const char* keys = m_typing       ? "Enter send  Esc cancel  Up/Down squelch  Ctrl-C quit"
                       : m_takesInput ? "t type a line  +/- squelch  q quit"
                                      : "+/- squelch  q quit";
    mvaddnstr(LINES - 1, 0, keys, COLS);
    if (m_typing) {
        move(LINES - 2, 2 + static_cast<int>(Tail(m_edit, COLS - 3).size()));
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
