#include "util/SerialFIFO.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "base/ScopedLock.h"

namespace {

constexpr int32_t kBlockStep = 256;

// The growth rule: S rounded up to a block step, plus one spare step.
int32_t GrownCapacity(int64_t required)
{
    const int64_t capacity = ((required + kBlockStep - 1) / kBlockStep + 1) * kBlockStep;
    if (capacity > std::numeric_limits<int32_t>::max())
        throw std::bad_alloc();
    return static_cast<int32_t>(capacity);
}

}  // namespace

CSerialFIFO::CSerialFIFO() : m_pBuffer(new unsigned char[kBlockStep]), m_nCount(0), m_nCapacity(kBlockStep)
{
    InitializeCriticalSection(&m_Lock);
}

CSerialFIFO::~CSerialFIFO()
{
    delete[] m_pBuffer;
    DeleteCriticalSection(&m_Lock);
}

CSerialFIFO& CSerialFIFO::operator=(const CSerialFIFO& other)
{
    if (this == &other)
        return *this;
    // A snapshot first, so that the two locks are never held together.
    std::vector<unsigned char> queued;
    {
        CScopedLock holdOther(&other.m_Lock);
        queued.assign(other.m_pBuffer, other.m_pBuffer + other.m_nCount);
    }
    const int32_t count = static_cast<int32_t>(queued.size());
    CScopedLock hold(&m_Lock);
    if (count >= m_nCapacity)
        Regrow(count, 0);
    std::copy(queued.begin(), queued.end(), m_pBuffer);
    m_nCount = count;
    return *this;
}

int CSerialFIFO::size() const { return m_nCount; }

void CSerialFIFO::empty()
{
    CScopedLock hold(&m_Lock);
    m_nCount = 0;
}

int CSerialFIFO::write(const void* data, int n)
{
    if (n < 1)
        return 0;
    CScopedLock hold(&m_Lock);
    if (!data)
        return 0;
    const int32_t count = m_nCount;
    const int64_t required = static_cast<int64_t>(count) + n;
    if (required >= m_nCapacity)
        Regrow(required, count);
    std::memcpy(m_pBuffer + count, data, static_cast<size_t>(n));
    m_nCount = static_cast<int32_t>(required);
    return m_nCount;
}

int CSerialFIFO::read(void* out, int n)
{
    if (n < 1)
        return 0;
    CScopedLock hold(&m_Lock);
    if (!out)
        return 0;
    const int32_t taken = std::min<int32_t>(n, m_nCount);
    std::memcpy(out, m_pBuffer, static_cast<size_t>(taken));
    DropFront(taken);
    return taken;
}

int CSerialFIFO::peek(void* out, int n)
{
    if (n < 1)
        return 0;
    CScopedLock hold(&m_Lock);
    if (!out)
        return 0;
    const int32_t copied = std::min<int32_t>(n, m_nCount);
    std::memcpy(out, m_pBuffer, static_cast<size_t>(copied));
    return copied;
}

int CSerialFIFO::discard(int n)
{
    if (n < 1)
        return 0;
    CScopedLock hold(&m_Lock);
    const int32_t dropped = std::min<int32_t>(n, m_nCount);
    DropFront(dropped);
    return dropped;
}

void CSerialFIFO::push_front(unsigned char b)
{
    CScopedLock hold(&m_Lock);
    const int32_t count = m_nCount;
    if (count + 1 >= m_nCapacity)
        Regrow(static_cast<int64_t>(count) + 1, count);
    std::memmove(m_pBuffer + 1, m_pBuffer, static_cast<size_t>(count));
    m_pBuffer[0] = b;
    m_nCount = count + 1;
}

void CSerialFIFO::reset(int n)
{
    CScopedLock hold(&m_Lock);
    if (n > m_nCapacity)
        Regrow(n, 0);
    m_nCount = 0;
}

int CSerialFIFO::capacity() const
{
    CScopedLock hold(&m_Lock);
    return m_nCapacity;
}

void CSerialFIFO::Regrow(int64_t required, int32_t keep)
{
    const int32_t capacity = GrownCapacity(required);
    unsigned char* block = new unsigned char[static_cast<size_t>(capacity)];
    std::memcpy(block, m_pBuffer, static_cast<size_t>(keep));
    delete[] m_pBuffer;
    m_pBuffer = block;
    m_nCapacity = capacity;
}

void CSerialFIFO::DropFront(int32_t k)
{
    const int32_t left = m_nCount - k;
    std::memmove(m_pBuffer, m_pBuffer + k, static_cast<size_t>(left));
    m_nCount = left;
}
