// The rig through Hamlib: its dial frequency, and push-to-talk by CAT command.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Ptt.h"

struct s_rig;

namespace rz::dgterm {

class Rig final : public Keyer {
public:
    // Hamlib's `model` on `port` (a device path, or host:port for the network
    // model that reaches rigctld); "" for the model's default port. Nothing, with
    // Hamlib's reason, when the rig does not answer.
    static std::unique_ptr<Rig> Open(int model, const std::string& port, std::string& error);
    ~Rig() override;

    bool Key(std::string& error) override;
    void Unkey() override;
    std::string Name() const override { return "CAT"; }

    // The dial frequency in Hz, or nothing when the rig does not say.
    std::optional<double> DialHz();

private:
    explicit Rig(s_rig* rig) : m_rig(rig) {}

    s_rig* m_rig;
    bool m_keyed = false;
};

}  // namespace rz::dgterm
