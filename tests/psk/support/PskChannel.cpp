#include "PskChannel.h"

#include <algorithm>

#include "PskTransmitter.h"

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
    std::vector<int16_t> stream = samples;
    stream.resize(stream.size() + static_cast<size_t>(receiver.DecisionDelaySamples()));
    std::string text;
    char32_t chars[64];
    for (size_t at = 0; at < stream.size(); at += static_cast<size_t>(block)) {
        const int count = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), stream.size() - at));
        receiver.Process(stream.data() + at, count);
        for (int n; (n = receiver.TakeText(chars, 64)) > 0;)
            for (int i = 0; i < n; ++i)
                text += static_cast<char>(chars[i]);
    }
    return text;
}

}  // namespace rz::psk::testing
