#include "RttyChannel.h"

#include <algorithm>

#include "ReceiveInBlocks.h"
#include "RttyReceiver.h"
#include "RttyTiming.h"
#include "RttyTransmitter.h"

namespace rz::rtty::testing {

std::vector<int16_t> TransmitText(const std::string& text, Tones tones, int idleSamples, BitTiming timing)
{
    // Lead-in and `text` in batches of 19 characters, as the module encodes them.
    RttyTransmitter transmitter(tones, timing);
    transmitter.BeginOver();
    std::vector<int16_t> audio;
    std::vector<int16_t> block(kEncodeCapacity);
    for (size_t i = 0; i < text.size(); i += kEncodeBatch) {
        for (size_t j = i; j < std::min(text.size(), i + kEncodeBatch); ++j)
            transmitter.QueueChar(static_cast<unsigned char>(text[j]));
        audio.insert(audio.end(), block.begin(), block.begin() + transmitter.Render(block.data(), kEncodeCapacity));
    }
    const size_t idleStart = audio.size();
    audio.resize(idleStart + static_cast<size_t>(idleSamples));
    transmitter.RenderIdle(audio.data() + idleStart, idleSamples);
    return audio;
}

std::string ReceiveText(const std::vector<int16_t>& samples, Tones tones, int block, BitTiming timing,
                        bool unshiftOnSpace)
{
    RttyReceiver receiver(tones, timing, unshiftOnSpace);
    return test::support::ReceiveInBlocks<char>(receiver, samples, static_cast<size_t>(receiver.MaxDecisionDelay()),
                                                block);
}

}  // namespace rz::rtty::testing
