// The platform's communications calls on virtual ports and pseudo-terminals.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <ruzada/serial.h>

#include "SerialTestSupport.h"

namespace {

using namespace rz::test::serial;

bool Refused(bool succeeded, DWORD error) { return !succeeded && GetLastError() == error; }

HANDLE OpenCom(int number)
{
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class VirtualDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        wire.MapTo(41);
        SetLastError(ERROR_ACCESS_DENIED);
        device = OpenCom(41);
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(GetLastError(), 0u);
    }
    void TearDown() override
    {
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle(device);
    }
    DCB State()
    {
        DCB dcb{};
        EXPECT_TRUE(GetCommState(device, &dcb));
        return dcb;
    }

    VirtualPort wire;
    HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualDevice, SettingsRoundTripAndThoseAUartCannotFrameAreRefusedWhole)
{
    DCB dcb = State();
    dcb.BaudRate = 45;
    dcb.ByteSize = 5;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = ONE5STOPBITS;
    ASSERT_TRUE(SetCommState(device, &dcb));
    const DCB good = State();
    EXPECT_EQ(std::pair(good.BaudRate, good.StopBits), std::pair(DWORD{45}, BYTE{ONE5STOPBITS}));

    const std::function<void(DCB&)> spoilers[] = {
        [](DCB& d) { d.DCBlength = 12; },         [](DCB& d) { d.ByteSize = 4; }, [](DCB& d) { d.ByteSize = 9; },
        [](DCB& d) { d.StopBits = TWOSTOPBITS; }, [](DCB& d) { d.ByteSize = 8; }, [](DCB& d) { d.Parity = 5; },
        [](DCB& d) { d.BaudRate = 0; },
    };
    for (size_t i = 0; i < std::size(spoilers); ++i) {
        dcb = good;
        spoilers[i](dcb);
        EXPECT_FALSE(SetCommState(device, &dcb)) << i;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << i;
    }
    EXPECT_EQ(State().ByteSize, 5);
}

TEST_F(VirtualDevice, AWriteWaitsForRoomUntilTheLineDrainsOrItIsStopped)
{
    std::vector<uint8_t> bulk(10000);
    for (size_t i = 0; i < bulk.size(); ++i)
        bulk[i] = static_cast<uint8_t>(i * 7);
    HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    auto write = [&] {
        return std::async(std::launch::async, [&] {
            const BOOL done = WriteComm(device, bulk.data(), static_cast<DWORD>(bulk.size()), &written, stopEvent);
            return std::make_pair(done, GetLastError());
        });
    };
    auto drained = write();
    EXPECT_EQ(wire.Drain(bulk.size()), bulk);
    EXPECT_EQ(drained.get(), (std::pair<BOOL, DWORD>(TRUE, 0)));
    EXPECT_EQ(written, 10000u);

    auto stopped = write();
    ASSERT_TRUE(WaitUntil([&] { return VirtualPortPending(wire.Name()) == 4096; }));
    EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);
    SetEvent(stopEvent);
    EXPECT_EQ(stopped.get(), (std::pair<BOOL, DWORD>(FALSE, ERROR_OPERATION_ABORTED)));
    EXPECT_EQ(written, 4096u);
    CloseHandle(stopEvent);
}

// A mask change, the stop event and a close each release a wait under way in
// another thread; each is repeated until the waiter, however late it was
// scheduled, has been released.
TEST_F(VirtualDevice, AWaitEndsOnAMaskChangeTheStopEventOrAClose)
{
    HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    struct Release {
        std::function<void()> act;
        DWORD result;
        DWORD error;
    };
    const Release releases[] = {
        {[&] { SetCommMask(device, 0); }, WAIT_OBJECT_0 + 1, 0},
        {[&] { SetEvent(stopEvent); }, WAIT_OBJECT_0, 0},
        {[&] {
             if (device != INVALID_HANDLE_VALUE)
                 CloseHandle(std::exchange(device, INVALID_HANDLE_VALUE));
         },
         WAIT_FAILED, ERROR_INVALID_HANDLE},
    };
    for (const Release& release : releases) {
        ResetEvent(stopEvent);
        ASSERT_TRUE(SetCommMask(device, EV_BREAK));
        auto waiting = std::async(std::launch::async, [&, port = device] {
            DWORD events = 0xFFFF;
            SetLastError(0);
            const DWORD result = WaitCommEvents(port, stopEvent, INFINITE, &events);
            return std::make_tuple(result, GetLastError(), result == WAIT_OBJECT_0 + 1 ? events : 0);
        });
        EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
        EXPECT_TRUE(WaitUntil([&] {
            release.act();
            return waiting.wait_for(10ms) == std::future_status::ready;
        }));
        EXPECT_EQ(waiting.get(), std::make_tuple(release.result, release.error, DWORD{0}));
    }
    CloseHandle(stopEvent);
}

TEST_F(VirtualDevice, AHungUpDeviceDeliversWhatCameBeforeAndThenFails)
{
    ASSERT_TRUE(SetCommMask(device, EV_RXCHAR));
    wire.Feed({'l', 'a', 's', 't'});
    VirtualPortHangUp(wire.Name());
    DWORD events = 0;
    ASSERT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_OBJECT_0 + 1);
    uint8_t buffer[8];
    DWORD count = 0;
    ASSERT_TRUE(ReadComm(device, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 4u);
    EXPECT_TRUE(Refused(WaitCommEvents(device, nullptr, 1000, &events) != WAIT_FAILED, ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Refused(EscapeCommFunction(device, SETRTS), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Refused(WriteComm(device, buffer, 1, &count, nullptr), ERROR_INVALID_HANDLE));
}

// A read hands out at most the input queue's 4096 bytes; the rest waits in the
// line, and nothing is lost.
TEST_F(VirtualDevice, ReceivedBytesBeyondTheInputQueueWaitInTheLine)
{
    std::vector<uint8_t> sent(5000);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7);
    wire.Feed(sent);
    std::vector<uint8_t> received(8192);
    DWORD total = 0, largest = 0;
    EXPECT_TRUE(WaitUntil([&] {
        DWORD count = 0;
        ReadComm(device, received.data() + total, static_cast<DWORD>(received.size()) - total, &count);
        largest = std::max(largest, count);
        return (total += count) >= sent.size();
    }));
    EXPECT_EQ(largest, 4096u);
    received.resize(total);
    EXPECT_EQ(received, sent);
}

TEST_F(VirtualDevice, PurgeDropsBothDirections)
{
    wire.Feed({'i', 'n'});
    const uint8_t out[2] = {'o', 'u'};
    DWORD count = 0;
    ASSERT_TRUE(WriteComm(device, out, 2, &count, nullptr));
    EXPECT_TRUE(WriteComm(device, nullptr, 0, &count, nullptr));
    ASSERT_TRUE(PurgeComm(device, PURGE_RXCLEAR | PURGE_TXCLEAR));
    EXPECT_EQ(VirtualPortPending(wire.Name()), 0u);
    uint8_t buffer[4];
    ASSERT_TRUE(ReadComm(device, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);
}

TEST_F(VirtualDevice, BadNamesHandlesAndArgumentsAreRefused)
{
    for (const char* name : {"COM1", "\\\\.\\COM0", "\\\\.\\COM", "\\\\.\\COM1x", "/dev/null"})
        EXPECT_TRUE(Refused(CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE,
                            ERROR_FILE_NOT_FOUND))
            << name;
    EXPECT_EQ(CreateFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    // Ports are opened whole and existing only.
    EXPECT_TRUE(Refused(CreateFileA("\\\\.\\COM43", 0, 1, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE,
                        ERROR_INVALID_PARAMETER));
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7777));
    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_TRUE(Refused(EscapeCommFunction(bogus, SETRTS), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Refused(ReadComm(nullptr, &byte, 1, &count), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Refused(ReadComm(bogus, &byte, 1, nullptr), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Refused(WaitCommEvents(bogus, nullptr, 0, &count) != WAIT_FAILED, ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Refused(WriteComm(bogus, nullptr, 4, &count, nullptr), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Refused(PurgeComm(device, 0x10), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Refused(EscapeCommFunction(device, 9), ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetCommState(device, nullptr) || GetCommState(device, nullptr));

    // A pseudo-terminal has no modem lines to switch, but purges.
    PseudoTerminal terminal;
    terminal.MapTo(43);
    HANDLE pty = OpenCom(43);
    ASSERT_NE(pty, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(Refused(EscapeCommFunction(pty, SETDTR), ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(PurgeComm(pty, PURGE_RXCLEAR | PURGE_TXCLEAR));
    CloseHandle(pty);
}

}  // namespace
