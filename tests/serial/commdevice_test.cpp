// The platform's communications calls on virtual ports and pseudo-terminals.
#include <gtest/gtest.h>

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
        device = OpenCom(41);
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
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
    EXPECT_EQ(good.BaudRate, 45u);
    EXPECT_EQ(good.StopBits, ONE5STOPBITS);

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
    EXPECT_FALSE(SetCommState(device, nullptr));
    EXPECT_FALSE(GetCommState(device, nullptr));
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
    EXPECT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(EscapeCommFunction(device, SETRTS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteComm(device, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(VirtualDevice, PurgeDropsBothDirections)
{
    wire.Feed({'i', 'n'});
    const uint8_t out[2] = {'o', 'u'};
    DWORD count = 0;
    ASSERT_TRUE(WriteComm(device, out, 2, &count, nullptr));
    ASSERT_TRUE(PurgeComm(device, PURGE_RXCLEAR | PURGE_TXCLEAR));
    EXPECT_EQ(VirtualPortPending(wire.Name()), 0u);
    uint8_t buffer[4];
    ASSERT_TRUE(ReadComm(device, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(PurgeComm(device, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(EscapeCommFunction(device, 9));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CommCalls, BadNamesHandlesAndPointersAreRefused)
{
    const auto refused = [](bool succeeded, DWORD error) { return !succeeded && GetLastError() == error; };
    for (const char* name : {"COM1", "\\\\.\\COM0", "\\\\.\\COM", "\\\\.\\COM1x", "/dev/null"})
        EXPECT_TRUE(refused(CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE,
                            ERROR_FILE_NOT_FOUND))
            << name;
    EXPECT_EQ(CreateFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);

    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7777));
    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_TRUE(refused(EscapeCommFunction(bogus, SETRTS), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(refused(ReadComm(nullptr, &byte, 1, &count), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(refused(ReadComm(bogus, &byte, 1, nullptr), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(refused(WaitCommEvents(bogus, nullptr, 0, &count) != WAIT_FAILED, ERROR_INVALID_HANDLE));
    EXPECT_TRUE(refused(WriteComm(bogus, nullptr, 4, &count, nullptr), ERROR_INVALID_PARAMETER));

    // A pseudo-terminal has no modem lines to switch.
    PseudoTerminal terminal;
    terminal.MapTo(43);
    HANDLE device = OpenCom(43);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(refused(EscapeCommFunction(device, SETDTR), ERROR_NOT_SUPPORTED));
    CloseHandle(device);
}

}  // namespace
