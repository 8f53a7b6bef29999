// Shared by the PSK tests and the sensitivity bench: our transmitter and
// receiver driven as the module drives them.
#ifndef PSK_TEST_CHANNEL_H
#define PSK_TEST_CHANNEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "PskReceiver.h"
#include "PskSubmode.h"

namespace rz::psk::testing {

inline constexpr int kDecodeBlock = 3250;
inline constexpr int kEncodeCapacity = 89999;
inline constexpr int kEncodeBatch = 19;

// Letters of both cases, figures, punctuation, CR and LF.
inline constexpr char kSampleText[] =
    "CQ CQ de DL2XYZ: The quick brown fox jumps over the lazy dog 0123456789.\r\n"
    "RST 599, QTH Jena! (Karl) <> [] {} #42 $73 @5% &*+=/?~^_|\\'\"`;-\r\n";

// One over: preamble, `text` in batches of 19 characters, postamble.
std::vector<int16_t> TransmitText(const std::string& text, DGPskSubmode submode, double carrierHz = 1000.0,
                                  bool lsb = false);

// Feeds `samples` to a fresh receiver in blocks of `block` samples, then
// enough silence for its last decisions, and returns all text decoded.
std::string ReceiveText(const std::vector<int16_t>& samples, DGPskSubmode submode,
                        const ReceiverSettings& settings = {}, int block = kDecodeBlock);

}  // namespace rz::psk::testing

#endif
