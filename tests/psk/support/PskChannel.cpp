#include "PskChannel.h"

#include <algorithm>

#include "PskTransmitter.h"
#include "ReceiveInBlocks.h"

namespace rz::psk::testing {

std::vector<int16_t> TransmitText(const std::string& text, DGPskSubmode submode, double carrierHz, bool lsb)
{
    PskTransmitter transmitter(SubmodeOf(submode), carrierHz, lsb);
    std::vector<int16_t> audio;
    std::vector<int16_t> block(kEncodeCapacity);
    for (size_t i = 0; i < text.size(); i += kEncodeBatch) {
        for (size_t j = i; j < std::min(text.size(), i + kEncodeBatch); ++j)
            transmitter.QueueChar(static_cast<unsigned char>(text[j]));
        const int n = transmitter.Render(block.data(), kEncodeCapacity);
        audio.insert(audio.end(), block.begin(), block.begin() + n);
    }
    // The postamble, a symbol at a time to end with it.
    while (transmitter.HasData()) {
        const int n = transmitter.RenderIdle(block.data(), SubmodeOf(submode).symbolSamples);
        audio.insert(audio.end(), block.begin(), block.begin() + n);
    }
    return audio;
}

std::string ReceiveText(const std::vector<int16_t>& samples, DGPskSubmode submode, const ReceiverSettings& settings,
                        int block)
{
    PskReceiver receiver(SubmodeOf(submode), settings);
    return test::support::ReceiveInBlocks<char32_t>(receiver, samples,
                                                    static_cast<size_t>(receiver.DecisionDelaySamples()), block);
}

}  // namespace rz::psk::testing
