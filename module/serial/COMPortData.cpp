// The port's data path: the queues, what DGReadComPort and DGWriteComPort do on
// a port, and Baudot (ITA2) decoding of received 5-bit codes.
#include <algorithm>
#include <cstring>

#include "serial/COMPort.h"

namespace {

constexpr unsigned char kPassThrough = 0x7E;
// The figures "$" outside the extended set: the currency sign of Windows-1252.
constexpr unsigned char kCurrencySign = 0xA4;

// Indexed by the 5-bit code. The shift codes' entries are never looked up.
constexpr char kLetters[] = "\0E\nA SIU\rDRJNFCKTZLWHYPQOBGxMXVx";
constexpr char kFigures[] =
    "\0"
    "3\n- '87\r$4*,!:(5+)2#6019?&"
    "\0./=\0";
constexpr char kMilitaryFigures[] =
    "\0"
    "3\n- '87\r$4',!:(5\")2#6019?&"
    "\0./;\0";
static_assert(sizeof kLetters == 33 && sizeof kFigures == 33 && sizeof kMilitaryFigures == 33);

}  // namespace

int CCOMPort::read(unsigned char* out, int n)
{
    m_bHasData = 0;
    return m_ReceiveQueue.read(out, n);
}

int CCOMPort::peek(unsigned char* out, int n) { return m_ReceiveQueue.peek(out, n); }
int CCOMPort::write(unsigned char* data, int n) { return m_SendQueue.write(data, n); }
int CCOMPort::size() const { return m_ReceiveQueue.size(); }
int CCOMPort::DataLength() const { return size(); }
int CCOMPort::outsize() const { return m_SendQueue.size(); }
int CCOMPort::HasData() const { return m_bHasData; }
int CCOMPort::HasMoreData() const { return m_ReceiveQueue.size() > 0 ? 1 : 0; }
int CCOMPort::HasSendData() const { return HasMoreData() || HasSendThreadData(); }
int CCOMPort::HasSendThreadData() const { return m_SendQueue.size() > 0 ? 1 : 0; }

void CCOMPort::ClearBufferedData()
{
    m_SendQueue.empty();
    m_bTransmitDisabled = 0;
    m_bForceOn = 0;
    PTTOff();
}

void CCOMPort::Empty()
{
    ClearBufferedData();
    ClearReceived();
}

void CCOMPort::ClearReceived()
{
    m_ReceiveQueue.empty();
    m_bHasData = 0;
}

void CCOMPort::FlipASCIISign() { m_nReceiveShift ^= 1; }
void CCOMPort::FlipBaudotSign() { m_nTransmitShift ^= 1; }
void CCOMPort::SetExtended(int on) { m_bExtended = on ? 1 : 0; }
int CCOMPort::GetExtended() const { return m_bExtended; }
void CCOMPort::SetMilitary(int on) { m_bMilitary = on ? 1 : 0; }
int CCOMPort::GetMilitary() const { return m_bMilitary; }

void CCOMPort::ProcessReceived(unsigned char* bytes, int n)
{
    if (n <= 0)
        return;
    if (m_byByteSize == 5) {
        const bool military = m_bMilitary;
        int kept = 0;
        for (int i = 0; i < n; ++i) {
            const unsigned char c = military ? MilitaryBaudotToASCII(bytes[i]) : BaudotToASCII(bytes[i]);
            if (c)
                bytes[kept++] = c;
        }
        n = kept;
    }
    m_ReceiveQueue.write(bytes, n);
    m_bHasData = 1;
}

unsigned char CCOMPort::BaudotToASCII(unsigned char b)
{
    if (b == kPassThrough)
        return b;
    const unsigned char code = b & 0x1F;
    if (code == kFiguresShift || code == kLettersShift) {
        m_nReceiveShift = code == kFiguresShift ? 1 : 0;
        return 0;
    }
    if (!m_nReceiveShift)
        return static_cast<unsigned char>(kLetters[code]);
    const unsigned char c = static_cast<unsigned char>(kFigures[code]);
    if (m_bExtended)
        return c;
    switch (c) {
        case '!':
        case '&':
        case '#':
            return 0;
        case '$':
            return kCurrencySign;
        default:
            return c;
    }
}

unsigned char CCOMPort::MilitaryBaudotToASCII(unsigned char b)
{
    const unsigned char code = b & 0x1F;
    switch (code) {
        case 2:
            return '\n';
        case 4:
            return ' ';
        case 8:
            return '\r';
        case kFiguresShift:
        case kLettersShift:
            m_nReceiveShift = code == kFiguresShift ? 1 : 0;
            return 0;
        default:
            return static_cast<unsigned char>(m_nReceiveShift ? kMilitaryFigures[code] : kLetters[code]);
    }
}

int CCOMPort::ReadReceiveBlock(unsigned char* buffer, int capacity)
{
    if (!m_bHasData)
        return 0;
    m_bHasData = 0;
    if (!buffer)
        capacity = 0;
    const int queued = m_ReceiveQueue.size();
    m_ReceiveBlock.resize(static_cast<size_t>(queued) + 16);
    // Bytes arriving from here on stay queued for the next call.
    const int taken = m_ReceiveQueue.read(m_ReceiveBlock.data(), queued);
    const int copied = std::max(0, std::min(capacity, taken));
    if (copied > 0)
        std::memcpy(buffer, m_ReceiveBlock.data(), static_cast<size_t>(copied));
    if (copied < capacity)
        buffer[copied] = 0;
    return copied;
}

void CCOMPort::QueueForSending(const unsigned char* data, int count)
{
    m_SendQueue.write(data, count);
    if (!m_bTXEmpty && m_SendQueue.size() == 0)
        m_bTXEmpty = 1;
}
