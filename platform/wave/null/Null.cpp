// The null backend: one device each way, silence in, nothing out, paced by the
// clock. Everything it does is the core's silence.
#include "wave/Backend.h"

namespace rz::wave {
namespace {

class NullBackend final : public Backend {
public:
    unsigned DeviceCount(Direction) const override { return 1; }
    std::string DeviceName(Direction, unsigned) const override { return "null"; }

    MMRESULT OpenCapture(unsigned, const StreamFormat& format, Alarm& alarm, std::unique_ptr<CaptureStream>& stream,
                         std::string&) override
    {
        stream = MakeSilentCapture(format, alarm);
        return MMSYSERR_NOERROR;
    }

    MMRESULT OpenPlayback(unsigned, const StreamFormat& format, Alarm& alarm, std::unique_ptr<PlaybackStream>& stream,
                          std::string&) override
    {
        stream = MakeSilentPlayback(format, alarm);
        return MMSYSERR_NOERROR;
    }
};

std::unique_ptr<Backend> Create() { return std::make_unique<NullBackend>(); }

}  // namespace

const BackendDescriptor kNullBackend = {"null", "silence in, nothing out, paced by the clock", true, Create};

}  // namespace rz::wave
