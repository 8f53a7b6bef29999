// The current snap-in's entry points, in the order the snap-in contract lists
// them. Host threads read some entries without g_csMode (IsDGSendIdle,
// GetDGToolbarWnd), so each entry is an atomic pointer.
#pragma once

#include <atomic>

#include <DGSnapin.h>

struct ModeFuncs {
    std::atomic<PFN_GetDGInternalFrequency> GetDGInternalFrequency{nullptr};
    std::atomic<PFN_GetDGTwiddle> GetDGTwiddle{nullptr};
    std::atomic<PFN_HasDGData> HasDGData{nullptr};
    std::atomic<PFN_EncodeDGDataA> EncodeDGDataA{nullptr};
    std::atomic<PFN_DecodeDGDataA> DecodeDGDataA{nullptr};
    std::atomic<PFN_EncodeDGDataW> EncodeDGDataW{nullptr};
    std::atomic<PFN_DecodeDGDataW> DecodeDGDataW{nullptr};
    std::atomic<PFN_GetDGToolbar> GetDGToolbar{nullptr};
    std::atomic<PFN_DoDGCommand> DoDGCommand{nullptr};
    std::atomic<PFN_LoadDGUserData> LoadDGUserData{nullptr};
    std::atomic<PFN_SaveDGUserData> SaveDGUserData{nullptr};

    void Clear();
    // Looks every entry up in `library` (a null library clears them all).
    void Resolve(HMODULE library);
};

// The current snap-in's; changed by SetRUZada under g_csMode.
extern ModeFuncs g_ModeFuncs;
