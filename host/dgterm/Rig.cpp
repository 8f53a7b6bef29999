#include "Rig.h"

#include <hamlib/rig.h>

namespace rz::dgterm {

std::unique_ptr<Rig> Rig::Open(int model, const std::string& port, std::string& error)
{
    // Hamlib reports to stderr by default; dgterm reports failures itself.
    rig_set_debug(RIG_DEBUG_NONE);
    RIG* rig = rig_init(static_cast<rig_model_t>(model));
    if (!rig) {
        error = "Hamlib has no rig model " + std::to_string(model) + " (see rigctl -l)";
        return nullptr;
    }
    int result = RIG_OK;
    if (!port.empty())
        result = rig_set_conf(rig, rig_token_lookup(rig, "rig_pathname"), port.c_str());
    if (result == RIG_OK)
        result = rig_open(rig);
    if (result != RIG_OK) {
        error = "cannot reach the rig (Hamlib model " + std::to_string(model) + (port.empty() ? "" : " on " + port) +
                "): " + rigerror(result);
        rig_cleanup(rig);
        return nullptr;
    }
    return std::unique_ptr<Rig>(new Rig(rig));
}

Rig::~Rig()
{
    Unkey();
    rig_close(m_rig);
    rig_cleanup(m_rig);
}

bool Rig::Key(std::string& error)
{
    const int result = rig_set_ptt(m_rig, RIG_VFO_CURR, RIG_PTT_ON);
    if (result != RIG_OK) {
        error = std::string("the rig did not key: ") + rigerror(result);
        return false;
    }
    m_keyed = true;
    return true;
}

void Rig::Unkey()
{
    if (m_keyed)
        rig_set_ptt(m_rig, RIG_VFO_CURR, RIG_PTT_OFF);
    m_keyed = false;
}

std::optional<double> Rig::DialHz()
{
    freq_t frequency = 0;
    if (rig_get_freq(m_rig, RIG_VFO_CURR, &frequency) != RIG_OK)
        return std::nullopt;
    return static_cast<double>(frequency);
}

}  // namespace rz::dgterm
