// What one transmitted symbol does to the carrier's phase, in quarter turns,
// as PSK31 programs agree on the air (upper sideband unless `lsb`):
// - BPSK: a 0 bit reverses the phase, a 1 bit leaves it alone;
// - QPSK: each bit goes through the rate-1/2 code of constraint length 5
//   (polynomials 0x17 and 0x19, the newest bit in the lowest place) and its two
//   code bits c0 + 2*c1 turn the phase by 180 + 90*(c0 + 2*c1) degrees, so that
//   a run of 0 bits is a run of reversals in both.
#ifndef PSK_SYMBOLS_H
#define PSK_SYMBOLS_H

#include <bit>
#include <cstdint>

namespace rz::psk {

inline constexpr int kConstraintLength = 5;
inline constexpr unsigned kCodeStates = 1u << (kConstraintLength - 1);
inline constexpr unsigned kPolyFirst = 0x17;
inline constexpr unsigned kPolySecond = 0x19;

inline constexpr int kReversal = 2;  // quarter turns
inline constexpr int kSteady = 0;

// The two code bits (c0 + 2*c1) for the last five bits, newest lowest.
constexpr int CodeSymbol(unsigned lastFive)
{
    return (std::popcount(lastFive & kPolyFirst) & 1) | ((std::popcount(lastFive & kPolySecond) & 1) << 1);
}

// Quarter turns for a QPSK code symbol; the lower sideband turns the other way.
constexpr int QuarterTurns(int codeSymbol, bool lsb)
{
    const int usb = (kReversal + codeSymbol) & 3;
    return lsb ? (4 - usb) & 3 : usb;
}

constexpr int BpskQuarterTurns(bool bit) { return bit ? kSteady : kReversal; }

class ConvolutionalEncoder {
public:
    // The code symbol for the next bit.
    int Encode(bool bit)
    {
        m_register = ((m_register << 1) | (bit ? 1u : 0u)) & ((1u << kConstraintLength) - 1u);
        return CodeSymbol(m_register);
    }
    void Reset() { m_register = 0; }

private:
    unsigned m_register = 0;
};

}  // namespace rz::psk

#endif
