// Push-to-talk and direct line control. The keying policy lives here; the line
// itself is switched by one EscapeCommFunction per change.
#include <ruzada/serial.h>

#include "serial/COMPort.h"

namespace {

constexpr DWORD kKeyingPauseMs = 100;
constexpr DWORD kBreakMs = 200;

}  // namespace

void CCOMPort::SwitchLine(DWORD function)
{
    // Unchecked: a line that cannot switch (a pseudo-terminal has no modem lines)
    // leaves the keying state as the caller set it, which is what it reports.
    if (HANDLE device = m_hDevice)
        EscapeCommFunction(device, function);
}

// The radio needs time to settle on either side of a keying change.
void CCOMPort::KeyedSwitch(DWORD function)
{
    Sleep(kKeyingPauseMs);
    SwitchLine(function);
    Sleep(kKeyingPauseMs);
}

void CCOMPort::PTTOn()
{
    if (m_bTransmitting.exchange(1))
        return;
    if (m_bRTSKeying && m_bHAMMode)
        KeyedSwitch(SETRTS);
}

void CCOMPort::PTTOff()
{
    if (!m_bTransmitting.exchange(0))
        return;
    if (m_bRTSKeying && m_bHAMMode)
        KeyedSwitch(CLRRTS);
}

unsigned char CCOMPort::ShiftCode() const { return m_nTransmitShift ? kFiguresShift : kLettersShift; }

void CCOMPort::ForceTransmitOn(int on)
{
    m_bForceOn = on ? 1 : 0;
    if (on) {
        m_SendQueue.push_front(ShiftCode());
        if (!m_bTXEmpty)
            m_bTXEmpty = 1;
        m_bTransmitDisabled = 0;
        PTTOn();
        return;
    }
    // Unkey only once the driver has sent everything; a closed port has nothing.
    COMSTAT status{};
    const HANDLE device = m_hDevice;
    if (!device || !ClearCommError(device, nullptr, &status) || status.cbOutQue == 0)
        PTTOff();
}

int CCOMPort::TransmitForceOn() const { return m_bForceOn; }
int CCOMPort::Transmitting() const { return m_bTransmitting; }
void CCOMPort::SetTransmitting(int on) { m_bTransmitting = on ? 1 : 0; }

void CCOMPort::Stop()
{
    m_bTransmitDisabled = 1;
    m_bForceOn = 0;
    PTTOff();
}

void CCOMPort::Go() { m_bTransmitDisabled = 0; }
int CCOMPort::TransmitDisabled() const { return m_bTransmitDisabled; }

void CCOMPort::SetRTS(int enable)
{
    m_bRTSKeying = enable ? 1 : 0;
    if (!enable && m_bHAMMode) {
        SwitchLine(SETRTS);
        SwitchLine(SETDTR);
    }
}

int CCOMPort::GetRTS() const { return m_bRTSKeying; }

void CCOMPort::SetRTSRaw(int on)
{
    if (m_bRTSKeying || !m_bHAMMode)
        return;
    KeyedSwitch(on ? SETRTS : CLRRTS);
}

void CCOMPort::Break()
{
    const HANDLE device = m_hDevice;
    if (!device)
        return;
    // Unchecked: a device without break sends none, and the pause is kept all the same.
    SetCommBreak(device);
    Sleep(kBreakMs);
    ClearCommBreak(device);
}

void CCOMPort::SetDiddle(int on) { m_bDiddle = on ? 1 : 0; }
int CCOMPort::GetDiddle() const { return m_bDiddle; }
int CCOMPort::TXEmpty() const { return m_bTXEmpty; }
void CCOMPort::SetTXEmpty(int on) { m_bTXEmpty = on ? 1 : 0; }

int CCOMPort::SetWatchdog(int value)
{
    m_nWatchdog = value;
    return value;
}

int CCOMPort::GetWatchdog() const { return m_nWatchdog; }
int CCOMPort::IncrementWatchdog() { return ++m_nWatchdog; }
void CCOMPort::ResetWatchdog() { m_nWatchdog = 0; }
