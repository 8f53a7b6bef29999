#pragma once

#include <deque>

#include "Screen.h"

namespace rz::dgterm {

// The full screen: the waterfall on top with the frequencies the decoder listens
// on marked under it, the decoded text below, then the status line, the over
// being sent, the line being typed and the keys.
class CursesScreen final : public Screen {
public:
    // Takes over the terminal; false from Usable() when curses cannot drive it
    // or the terminal cannot address its cursor.
    explicit CursesScreen(const ScreenSetup& setup);
    ~CursesScreen() override;
    bool Usable() const { return m_usable; }

    void ShowReceived(const std::string& text) override;
    void ShowOver(const OverText& over) override;
    void AddSpectrum(const Spectrum& spectrum) override;
    void ShowStatus(const Status& status) override;
    void ShowNotice(const std::string& text) override;
    int InputFd() const override;
    std::vector<Input> ReadInput() override;
    bool InputEnded() const override { return false; }
    void Refresh() override;
    bool Watched() const override { return true; }

private:
    enum class Editing { None, Line, Call };

    void HandleKey(int key, std::vector<Input>& inputs);
    void HandleEditKey(int key, std::vector<Input>& inputs);
    void HandleMouse(std::vector<Input>& inputs);
    int WaterfallRows() const;
    void DrawWaterfall(int rows);
    void DrawScale(int row);
    void DrawReceived(int top, int rows);
    void DrawStatus(int row);
    void DrawBottom();

    bool m_takesInput;
    bool m_usable = false;
    int m_savedStderr = -1;
    bool m_dirty = true;
    std::deque<Spectrum> m_spectra;          // newest first
    std::deque<std::string> m_received{""};  // lines, the last one growing
    OverText m_over;
    Status m_status;
    std::string m_notice;
    Editing m_editing = Editing::None;
    std::string m_edit;
};

}  // namespace rz::dgterm
