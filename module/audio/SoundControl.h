// The sample rate and the sound device: the wave format both directions share,
// the device the host asked for and the one the card last opened on. All three
// are guarded by g_csSound.
#pragma once

#include <cstdint>

#include <ruzada/wave.h>

// PCM, mono; its rate is the card's (8000, 48000 with "Use48KHz", 0 while stopped).
extern WAVEFORMATEX g_WaveFormat;
// Asked for by SetDGSoundMode; -1 is the default device.
extern int32_t g_nSoundDevice;
// The device of the last open in which every direction the mode needs opened.
extern int32_t g_nOpenSoundDevice;

// The card's rate: 8000, or 48000 with "Use48KHz"; 0 while stopped. Takes g_csSound.
DWORD CardRate();
// Card samples per sample of the module's 8000 per second: 6 with "Use48KHz", else 1.
int CardRateFactor();
// SetDGFreq(freq) even where the rate stands unchanged: for a mode that takes
// back the card that the mode before it ran without.
void ReopenSoundCard(double freq);
