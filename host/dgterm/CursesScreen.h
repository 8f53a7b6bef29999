#pragma once

#include <deque>

#include "Screen.h"

// The full screen: the waterfall on top with the mode's tones marked under it,
// the decoded text below, then the status line, the text sent, the line being
// typed and the keys.
class CursesScreen final : public Screen {
public:
    // Takes over the terminal; false from Usable() when curses cannot drive it.
    explicit CursesScreen(const ScreenSetup& setup);
    ~CursesScreen() override;
    bool Usable() const { return m_usable; }

    void ShowReceived(const std::string& text) override;
    void BeginOver() override;
    void ShowSent(const std::string& text) override;
    void AddSpectrum(const Spectrum& spectrum) override;
    void ShowStatus(const Status& status) override;
    void ShowNotice(const std::string& text) override;
    int InputFd() const override;
    std::vector<Input> ReadInput() override;
    void Refresh() override;
    bool Watched() const override { return true; }

private:
    void HandleKey(int key, std::vector<Input>& inputs);
    void DrawWaterfall(int rows);
    void DrawScale(int row);
    void DrawReceived(int top, int rows);
    void DrawStatus(int row);
    void DrawBottom();

    std::vector<double> m_tones;
    bool m_takesInput;
    bool m_usable = false;
    bool m_dirty = true;
    std::deque<Spectrum> m_spectra;          // newest first
    std::deque<std::string> m_received{""};  // lines, the last one growing
    std::string m_sent;
    Status m_status;
    std::string m_notice;
    bool m_typing = false;
    std::string m_edit;
};
