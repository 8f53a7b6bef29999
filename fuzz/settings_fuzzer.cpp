// The settings reader (GetPrivateProfileIntA, GetPrivateProfileStringA) on
// arbitrary file contents, with the section and key names the module and the
// snap-ins ask for, or names of the input's own. Beside the sanitizers, the
// text calls are held to their contract: an answer that fits, terminated, and a
// cut answer that begins the whole one.
#include <sys/mman.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <ruzada/kernel.h>

namespace {

constexpr DWORD kWhole = 4096;

int TheFile()
{
    static const int file = memfd_create("RUZada.ini", 0);
    return file;
}

std::string PickName(FuzzedDataProvider& data, const char* const (&known)[4])
{
    return data.ConsumeBool() ? data.PickValueInArray(known) : data.ConsumeRandomLengthString(24);
}

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "settings reader: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    static constexpr const char* kSections[] = {"RUZada", "ruzada", " RUZada ", "RTTY"};
    static constexpr const char* kKeys[] = {"UseFFT", "Use48KHz", "SlowFFT", "Carrier"};
    const std::string section = PickName(data, kSections);
    const std::string key = PickName(data, kKeys);
    const std::string fallback = data.ConsumeRandomLengthString(16);
    const int defaultValue = data.ConsumeIntegral<int>();
    const DWORD small = data.ConsumeIntegralInRange<DWORD>(0, 40);
    const bool nullFallback = data.ConsumeBool();
    const std::string contents = data.ConsumeRemainingBytesAsString();

    const int file = TheFile();
    if (file < 0 || ftruncate(file, 0) != 0 || pwrite(file, contents.data(), contents.size(), 0) < 0)
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(file);

    GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path.c_str());
    const char* defaultText = nullFallback ? nullptr : fallback.c_str();
    static char whole[kWhole];
    static char cut[kWhole];
    const DWORD wholeLength =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultText, whole, kWhole, path.c_str());
    Check(wholeLength < kWhole && whole[wholeLength] == '\0', "the answer overruns its buffer");
    std::memset(cut, 0x5A, sizeof cut);
    const DWORD cutLength =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultText, cut, small, path.c_str());
    if (small == 0) {
        Check(cutLength == 0 && cut[0] == 0x5A, "a buffer of no size is written to");
    } else {
        Check(cutLength < small && cut[cutLength] == '\0', "a cut answer overruns its buffer");
        Check(std::strncmp(cut, whole, cutLength) == 0, "a cut answer differs from the whole one");
        Check(cutLength == std::min<DWORD>(wholeLength, small - 1), "a cut answer has the wrong length");
    }
    return 0;
}
