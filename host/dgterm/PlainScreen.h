#pragma once

#include "Screen.h"

namespace rz::dgterm {

class PlainScreen final : public Screen {
public:
    explicit PlainScreen(const ScreenSetup& setup);

    void ShowReceived(const std::string& text) override;
    void ShowOver(const OverText& over) override;
    void AddSpectrum(const Spectrum&) override {}
    void ShowStatus(const Status& status) override;
    // On a line of its own, also when decoded text and notices share a file.
    void ShowNotice(const std::string& text) override;
    int InputFd() const override { return m_inputFd; }
    std::vector<Input> ReadInput() override;
    bool InputEnded() const override { return m_inputEnded; }
    void Refresh() override {}
    bool Watched() const override { return false; }

private:
    int m_inputFd;
    bool m_inputEnded = false;
    bool m_sharedOutput;
    bool m_lineOpen = false;
    std::string m_pending;
    bool m_transmitting = false;
    std::string m_unsent;
    std::string m_device;
};

}  // namespace rz::dgterm
