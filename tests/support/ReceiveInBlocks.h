// Feeds a recording to a receiver block by block, followed by enough silence to
// let its last decisions out, and gathers the (ASCII) text it prints.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rz::test::support {

template <class Char, class Receiver>
std::string ReceiveInBlocks(Receiver& receiver, std::vector<int16_t> stream, size_t tailSamples, int block)
{
    stream.resize(stream.size() + tailSamples);
    std::string text;
    Char chars[64];
    for (size_t at = 0; at < stream.size(); at += static_cast<size_t>(block)) {
        const int count = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), stream.size() - at));
        receiver.Process(stream.data() + at, count);
        for (int n; (n = receiver.TakeText(chars, 64)) > 0;)
            for (int i = 0; i < n; ++i)
                text += static_cast<char>(chars[i]);
    }
    return text;
}

}  // namespace rz::test::support
