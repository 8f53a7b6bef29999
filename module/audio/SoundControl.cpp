// SetDGFreq, GetDGFreq, SetDGSoundMode and GetDGSoundCount: the host starts and
// stops the sound card, reads its rate, and picks transmit, receive and device.
#include "audio/SoundControl.h"

#include <cmath>
#include <string>

#include <RUZada.h>

#include "audio/Resample.h"
#include "audio/Sound.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Guard.h"
#include "core/Messages.h"
#include "core/ModeBusy.h"
#include "modes/ModeList.h"
#include "util/SystemErrorText.h"

WAVEFORMATEX g_WaveFormat = {WAVE_FORMAT_PCM, 1, 0, 0, 0, 8, 0};
int32_t g_nSoundDevice = -1;
int32_t g_nOpenSoundDevice = -1;

namespace {

constexpr UINT kModuleRate = 8000;

void ShowOpenFailure(const char* heading, UINT error)
{
    const std::string text = heading + std::string(static_cast<const char*>(SystemErrorText(error)));
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONEXCLAMATION);
}

// The mode's wishes: no card at all, no playback, no capture.
void CopyCurrentModeFlags()
{
    if (const CModeRecord* record = g_ModeList.Find(g_qwCurrentMode)) {
        g_bNoSoundCard = record->m_Setup.bNoSoundCard;
        g_bNoSoundOutput = record->m_Setup.bNoSoundOutput;
        g_bNoSoundInput = record->m_Setup.bNoSoundInput;
    }
}

void CloseCard(CSound& sound)
{
    if (sound.IsOutOpen())
        sound.CloseOut();
    if (sound.IsInOpen())
        sound.CloseIn();
}

// Every value but 0 runs the card; floor first, so that 0.5 stops it.
UINT RequestedRate(double freq) { return std::floor(freq) == 0.0 ? 0 : kModuleRate; }

int ApplyRate(CSound& sound, double freq)
{
    CScopedLock sendQueue(&g_csSendQueue);
    CopyCurrentModeFlags();
    {
        // g_csSound here too: the receive thread reads under it, and a read must
        // never meet a close.
        CScopedLock card(&g_csSound);
        if (g_nOpenSoundDevice != g_nSoundDevice || g_bNoSoundCard)
            CloseCard(sound);
        if (g_bNoSoundCard)
            return 1;
    }

    CScopedLock card(&g_csSound);
    const UINT factor = CardRateFactor();
    const UINT oldRate = g_WaveFormat.nSamplesPerSec / factor;
    const UINT newRate = RequestedRate(freq);
    g_WaveFormat = {WAVE_FORMAT_PCM, 1, newRate * factor, 2 * newRate * factor, 2, 16, 0};
    // A lost device is asked for again: closed and opened anew.
    if (oldRate == newRate && g_nOpenSoundDevice == g_nSoundDevice && !IsWaveDeviceLost())
        return 1;

    if (sound.IsInOpen())
        sound.CloseIn();
    if (sound.IsOutOpen())
        sound.CloseOut();
    if (newRate == 0)
        return 1;

    const UINT device = static_cast<UINT>(g_nSoundDevice);
    if (!g_bNoSoundInput) {
        if (const UINT error = sound.OpenIn(&g_WaveFormat, device)) {
            ShowOpenFailure("Soundcard In Open:\n", error);
            return 0;
        }
    }
    if (!g_bNoSoundOutput) {
        if (const UINT error = sound.OpenOut(&g_WaveFormat, device)) {
            ShowOpenFailure("Soundcard Out Open:\n", error);
            return 0;
        }
    }
    g_nOpenSoundDevice = g_nSoundDevice;
    if (g_dwSoundMode & kSoundModeTransmit)
        SetEvent(g_hXmitEvent);
    return 1;
}

}  // namespace

int SetDGFreq(double freq)
{
    return Guarded(0, [&] {
        CSound* sound = g_pSound;
        return sound ? ApplyRate(*sound, freq) : 0;
    });
}

double GetDGFreq(void)
{
    return Guarded(0.0, [] {
        CScopedLock card(&g_csSound);
        const double rate = static_cast<uint32_t>(g_WaveFormat.nSamplesPerSec);
        return rate * (1.0 / CardRateFactor());
    });
}

void SetDGSoundMode(int mode, int device)
{
    Guarded([&] {
        const CModeBusy busy;
        const DWORD modeBits = static_cast<DWORD>(mode);
        const bool transmit = modeBits & kSoundModeTransmit;
        CSound* sound = g_pSound;
        // Audio left from an earlier transmission goes before the new one starts.
        if (!(g_dwSoundMode & kSoundModeTransmit) && transmit && sound)
            sound->FlushOut();
        {
            CScopedLock card(&g_csSound);
            g_dwSoundMode = modeBits;
            // Compared unsigned: every negative number but -1 is out of range too.
            g_nSoundDevice = device == -1 || static_cast<UINT>(device) >= waveInGetNumDevs() ? -1 : device;
        }
        SetDGFreq(GetDGFreq());
        PostXmitRecv(transmit ? 1 : 0, (modeBits & kSoundModeReceive) ? 1 : 0);
        if (transmit)
            SetEvent(g_hXmitEvent);
    });
}

int CardRateFactor() { return g_bUse48KHz ? kRate48KHzFactor : 1; }

DWORD CardRate()
{
    CScopedLock card(&g_csSound);
    return g_WaveFormat.nSamplesPerSec;
}

void ReopenSoundCard(double freq)
{
    {
        CScopedLock card(&g_csSound);
        g_WaveFormat.nSamplesPerSec = 0;
    }
    SetDGFreq(freq);
}

DWORD GetDGSoundCount(void)
{
    return Guarded(DWORD{0}, [] { return static_cast<DWORD>(waveInGetNumDevs()); });
}
