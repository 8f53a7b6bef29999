// A snap-in's decoder fed arbitrary audio. The snap-in is any DG*.so, named by
// RUZADA_FUZZ_SNAPIN, so a new mode is fuzzed without touching this file.
//
// An input first tunes the mode through its run-time controls, then either
// gives raw samples, or text that the snap-in's own encoder turns into audio
// which the input's remaining bytes then disturb: decoding real signals reaches
// the states that noise alone never does. The audio goes to the decoder in
// pieces of sizes the input picks, as the module's blocks and a host's odd calls
// would come.
#include <dlfcn.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <DGSnapin.h>

#include "FuzzSupport.h"

namespace rz::fuzz {
namespace {

constexpr int kMaxControls = 4;
constexpr int kHighestKey = 16;
constexpr size_t kMaxTextUnits = 24;
constexpr size_t kMaxEncodedSamples = 8000 * 10;

struct Snapin {
    PFN_InitRUZada init = nullptr;
    PFN_InvokeDGFunc control = nullptr;  // "InvokeDGFunc20", if the mode has run-time controls
    PFN_EncodeDGDataW encode = nullptr;
    PFN_DecodeDGDataW decodeW = nullptr;
    PFN_DecodeDGDataA decodeA = nullptr;
    PFN_HasDGData hasData = nullptr;
    PFN_DoDGCommand command = nullptr;
};

Snapin& TheSnapin()
{
    static Snapin snapin;
    return snapin;
}

template <class F>
F Optional(void* library, const char* name)
{
    return reinterpret_cast<F>(dlsym(library, name));
}

void Tune(FuzzedDataProvider& data, const Snapin& snapin)
{
    for (int n = data.ConsumeIntegralInRange(0, kMaxControls); n > 0 && snapin.control; --n) {
        const uint32_t key = data.ConsumeIntegralInRange(0, kHighestKey);
        snapin.control(nullptr, key, data.ConsumeIntegral<uint32_t>());
    }
}

// The text encoded by the snap-in, with the input's bytes added to it as noise.
std::vector<int16_t> Transmission(FuzzedDataProvider& data, const Snapin& snapin)
{
    std::u16string text;
    for (size_t n = data.ConsumeIntegralInRange<size_t>(0, kMaxTextUnits); n > 0; --n)
        text.push_back(data.ConsumeBool() ? static_cast<char16_t>(data.ConsumeIntegralInRange(32, 126))
                                          : data.ConsumeIntegral<char16_t>());
    std::vector<int16_t> audio(kMaxEncodedSamples);
    size_t used = 0;
    // The module hands at most DG_MAX_BATCH characters to one call, then calls
    // with none until the encoder has rendered everything queued.
    for (size_t at = 0; used < audio.size();) {
        const int count = static_cast<int>(std::min<size_t>(DG_MAX_BATCH, text.size() - at));
        const int room = static_cast<int>(std::min<size_t>(DG_ENCODE_CAPACITY, audio.size() - used));
        const int made = snapin.encode(audio.data() + used, room, text.data() + at, count);
        at += static_cast<size_t>(count);
        used += static_cast<size_t>(std::clamp(made, 0, room));
        if (made <= 0 && at == text.size())
            break;
    }
    audio.resize(used);
    const int shift = data.ConsumeIntegralInRange(0, 15);
    for (int16_t& sample : audio) {
        if (data.remaining_bytes() == 0)
            break;
        sample = static_cast<int16_t>(sample + (data.ConsumeIntegral<int16_t>() >> shift));
    }
    return audio;
}

std::vector<int16_t> RawSamples(FuzzedDataProvider& data)
{
    const std::vector<uint8_t> bytes = data.ConsumeRemainingBytes<uint8_t>();
    std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
    std::copy_n(bytes.data(), samples.size() * sizeof(int16_t), reinterpret_cast<uint8_t*>(samples.data()));
    return samples;
}

// Feeds `audio` in pieces of `piece` samples (all at once for 0), then calls once
// with none, which hands out what the decoder still holds.
void Decode(const std::vector<int16_t>& audio, size_t piece, bool narrow, const Snapin& snapin)
{
    char16_t wide[DG_DECODE_CAPACITY];
    char chars[DG_DECODE_CAPACITY];
    const size_t step = std::max<size_t>(piece ? piece : audio.size(), 1);
    size_t at = 0;
    int count;
    do {
        count = static_cast<int>(std::min(step, audio.size() - at));
        if (narrow && snapin.decodeA)
            snapin.decodeA(audio.data() + at, count, chars, DG_DECODE_CAPACITY);
        else if (snapin.decodeW)
            snapin.decodeW(audio.data() + at, count, wide, DG_DECODE_CAPACITY);
        if (snapin.hasData)
            snapin.hasData();
        at += static_cast<size_t>(count);
    } while (count > 0);
    if (snapin.command)
        snapin.command(DG_CONTROL_READ | DG_KEY_QUALITY);
}

}  // namespace
}  // namespace rz::fuzz

using namespace rz::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* path = std::getenv("RUZADA_FUZZ_SNAPIN");
    if (!path || !*path)
        Fail("RUZADA_FUZZ_SNAPIN must name the snap-in (a DG*.so) to fuzz");
    UseScratchSettings("");
    void* library = LoadForGood(path);
    Snapin& snapin = TheSnapin();
    snapin.init = Optional<PFN_InitRUZada>(library, "InitRUZada");
    snapin.control = Optional<PFN_InvokeDGFunc>(library, "InvokeDGFunc20");
    snapin.encode = Optional<PFN_EncodeDGDataW>(library, "EncodeDGDataW");
    snapin.decodeW = Optional<PFN_DecodeDGDataW>(library, "DecodeDGDataW");
    snapin.decodeA = Optional<PFN_DecodeDGDataA>(library, "DecodeDGDataA");
    snapin.hasData = Optional<PFN_HasDGData>(library, "HasDGData");
    snapin.command = Optional<PFN_DoDGCommand>(library, "DoDGCommand");
    RequireSymbol(library, "GetDGSetup");
    if (!snapin.decodeW && !snapin.decodeA)
        Fail(std::string(path) + " has no decoder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const Snapin& snapin = TheSnapin();
    // Each input starts the mode afresh, as selecting it does.
    if (snapin.init)
        snapin.init(8000.0);
    static constexpr size_t kPieces[] = {0, 1, 7, 64, 512, 3073, 4096, 8000};
    const size_t piece = data.PickValueInArray(kPieces);
    const bool narrow = data.ConsumeBool();
    Tune(data, snapin);
    const bool encoded = snapin.encode && data.ConsumeBool();
    const std::vector<int16_t> audio = encoded ? Transmission(data, snapin) : RawSamples(data);
    Decode(audio, piece, narrow, snapin);
    return 0;
}
