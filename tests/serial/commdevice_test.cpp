// The platform's communications calls on virtual ports and pseudo-terminals.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include <ruzada/serial.h>

#include "SerialTestSupport.h"

namespace {

using namespace serialtest;

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

TEST(CommOpen, OnlyComDeviceNamesOpen)
{
    for (const char* name : {"COM1", "\\\\.\\COM0", "\\\\.\\COM", "\\\\.\\COM1x", "/dev/null"}) {
        EXPECT_EQ(CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), 2u) << name;
    }
    EXPECT_EQ(CreateFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST(CommOpen, MissingVirtualPortIsNotFound)
{
    setenv("RUZADA_COM42", "virtual:nobody-made-this", 1);
    EXPECT_EQ(OpenCom(42), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 2u);
}

TEST_F(VirtualDevice, APortHasOneUserAtATime)
{
    EXPECT_EQ(OpenCom(41), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);
    CloseHandle(device);
    device = OpenCom(41);
    EXPECT_NE(device, INVALID_HANDLE_VALUE);
}

TEST_F(VirtualDevice, SettingsRoundTrip)
{
    DCB dcb = State();
    dcb.BaudRate = 45;
    dcb.ByteSize = 5;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = ONE5STOPBITS;
    dcb.fNull = 1;
    dcb.XonLim = 100;
    dcb.XoffLim = 3072;
    ASSERT_TRUE(SetCommState(device, &dcb));
    const DCB back = State();
    EXPECT_EQ(back.BaudRate, 45u);
    EXPECT_EQ(back.ByteSize, 5);
    EXPECT_EQ(back.Parity, MARKPARITY);
    EXPECT_EQ(back.StopBits, ONE5STOPBITS);
    EXPECT_EQ(back.fNull, 1u);
    EXPECT_EQ(back.XonLim, 100);
    EXPECT_EQ(back.XoffLim, 3072);
}

TEST_F(VirtualDevice, SettingsAUartCannotFrameAreRefusedWhole)
{
    const DCB good = State();
    const auto refused = [&](DCB dcb) {
        const bool taken = SetCommState(device, &dcb);
        return !taken && GetLastError() == ERROR_INVALID_PARAMETER;
    };
    DCB dcb = good;
    dcb.DCBlength = 12;
    EXPECT_TRUE(refused(dcb));
    for (BYTE size : {4, 9}) {
        dcb = good;
        dcb.ByteSize = size;
        EXPECT_TRUE(refused(dcb)) << int(size);
    }
    dcb = good;
    dcb.StopBits = ONE5STOPBITS;
    EXPECT_TRUE(refused(dcb));
    dcb = good;
    dcb.ByteSize = 5;
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_TRUE(refused(dcb));
    dcb = good;
    dcb.Parity = 5;
    EXPECT_TRUE(refused(dcb));
    dcb = good;
    dcb.BaudRate = 0;
    EXPECT_TRUE(refused(dcb));
    EXPECT_EQ(State().ByteSize, good.ByteSize);
    EXPECT_FALSE(SetCommState(device, nullptr));
    EXPECT_FALSE(GetCommState(device, nullptr));
}

TEST_F(VirtualDevice, NullBytesAreDiscardedOnlyWhenAsked)
{
    ASSERT_TRUE(SetCommMask(device, EV_RXCHAR));
    wire.Feed({0, 'a', 0});
    DWORD events = 0;
    ASSERT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(events, EV_RXCHAR);
    uint8_t buffer[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadComm(device, buffer, sizeof buffer, &read));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + read), (std::vector<uint8_t>{0, 'a', 0}));

    DCB dcb = State();
    dcb.fNull = 1;
    ASSERT_TRUE(SetCommState(device, &dcb));
    wire.Feed({0, 'b', 0});
    ASSERT_TRUE(WaitUntil([&] {
        ReadComm(device, buffer, sizeof buffer, &read);
        return read > 0;
    }));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + read), std::vector<uint8_t>{'b'});
}

TEST_F(VirtualDevice, BreakIsReportedOnceAsEventAndAsError)
{
    ASSERT_TRUE(SetCommMask(device, EV_BREAK));
    VirtualPortSendBreak(wire.Name());
    DWORD events = 0;
    ASSERT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(events, EV_BREAK);
    EXPECT_EQ(WaitCommEvents(device, nullptr, 30, &events), WAIT_TIMEOUT);
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(device, &errors, nullptr));
    EXPECT_EQ(errors, CE_BREAK);
    ASSERT_TRUE(ClearCommError(device, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
}

TEST_F(VirtualDevice, EventsOutsideTheMaskAreNotReported)
{
    ASSERT_TRUE(SetCommMask(device, EV_TXEMPTY));
    wire.Feed({'x'});
    VirtualPortSendBreak(wire.Name());
    DWORD events = 0;
    EXPECT_EQ(WaitCommEvents(device, nullptr, 50, &events), WAIT_TIMEOUT);
}

TEST_F(VirtualDevice, TransmitEmptyComesWhenTheLineHasSentEverything)
{
    ASSERT_TRUE(SetCommMask(device, EV_TXEMPTY));
    const uint8_t bytes[3] = {1, 2, 3};
    DWORD written = 0;
    ASSERT_TRUE(WriteComm(device, bytes, 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(device, nullptr, &status));
    EXPECT_EQ(status.cbOutQue, 3u);
    DWORD events = 0;
    EXPECT_EQ(WaitCommEvents(device, nullptr, 50, &events), WAIT_TIMEOUT);
    wire.Drain(3);
    ASSERT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(events, EV_TXEMPTY);
}

TEST_F(VirtualDevice, AWriteWaitsForRoomUntilStopped)
{
    std::vector<uint8_t> bulk(6000, 'z');
    HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    auto writing = std::async(std::launch::async, [&] {
        const BOOL done = WriteComm(device, bulk.data(), static_cast<DWORD>(bulk.size()), &written, stopEvent);
        return std::make_pair(done, GetLastError());
    });
    ASSERT_TRUE(WaitUntil([&] { return VirtualPortPending(wire.Name()) == 4096; }));
    EXPECT_EQ(writing.wait_for(50ms), std::future_status::timeout);
    SetEvent(stopEvent);
    const auto [done, error] = writing.get();
    EXPECT_FALSE(done);
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(written, 4096u);
    CloseHandle(stopEvent);
}

TEST_F(VirtualDevice, AWriteGoesOnAsTheLineDrains)
{
    std::vector<uint8_t> bulk(10000);
    for (size_t i = 0; i < bulk.size(); ++i)
        bulk[i] = static_cast<uint8_t>(i * 7);
    auto writing = std::async(std::launch::async, [&] {
        DWORD written = 0;
        return WriteComm(device, bulk.data(), static_cast<DWORD>(bulk.size()), &written, nullptr) && written == 10000;
    });
    EXPECT_EQ(wire.Drain(bulk.size()), bulk);
    EXPECT_TRUE(writing.get());
}

TEST_F(VirtualDevice, ChangingTheMaskReleasesAWait)
{
    ASSERT_TRUE(SetCommMask(device, EV_BREAK));
    auto waiting = std::async(std::launch::async, [&] {
        DWORD events = 0xFFFF;
        const DWORD result = WaitCommEvents(device, nullptr, INFINITE, &events);
        return std::make_pair(result, events);
    });
    EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
    // Only a waiter already waiting sees the change: repeat it until the waiter,
    // however late it was scheduled, has been released.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    do
        SetCommMask(device, 0);
    while (waiting.wait_for(10ms) != std::future_status::ready && std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(waiting.wait_for(0s), std::future_status::ready);
    const auto [result, events] = waiting.get();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
    EXPECT_EQ(events, 0u);
}

TEST_F(VirtualDevice, TheStopEventEndsAWait)
{
    HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto waiting = std::async(std::launch::async, [&] {
        DWORD events = 0;
        return WaitCommEvents(device, stopEvent, INFINITE, &events);
    });
    EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
    SetEvent(stopEvent);
    EXPECT_EQ(waiting.get(), WAIT_OBJECT_0);
    CloseHandle(stopEvent);
}

TEST_F(VirtualDevice, ClosingTheHandleEndsAWaitInAnotherThread)
{
    auto waiting = std::async(std::launch::async, [&] {
        DWORD events = 0;
        const DWORD result = WaitCommEvents(device, nullptr, INFINITE, &events);
        return std::make_pair(result, GetLastError());
    });
    EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
    CloseHandle(device);
    const auto [result, error] = waiting.get();
    device = INVALID_HANDLE_VALUE;
    EXPECT_EQ(result, WAIT_FAILED);
    EXPECT_EQ(error, ERROR_INVALID_HANDLE);
}

TEST_F(VirtualDevice, AHungUpDeviceDeliversWhatCameBeforeAndThenFails)
{
    ASSERT_TRUE(SetCommMask(device, EV_RXCHAR));
    wire.Feed({'l', 'a', 's', 't'});
    VirtualPortHangUp(wire.Name());
    DWORD events = 0;
    ASSERT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_OBJECT_0 + 1);
    uint8_t buffer[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadComm(device, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(WaitCommEvents(device, nullptr, 1000, &events), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(EscapeCommFunction(device, SETRTS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD written = 0;
    EXPECT_FALSE(WriteComm(device, buffer, 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(VirtualDevice, PurgeDropsBothDirections)
{
    wire.Feed({'i', 'n'});
    const uint8_t out[2] = {'o', 'u'};
    DWORD written = 0;
    ASSERT_TRUE(WriteComm(device, out, 2, &written, nullptr));
    ASSERT_TRUE(PurgeComm(device, PURGE_RXCLEAR | PURGE_TXCLEAR));
    EXPECT_EQ(VirtualPortPending(wire.Name()), 0u);
    uint8_t buffer[4];
    DWORD read = 1;
    ASSERT_TRUE(ReadComm(device, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(PurgeComm(device, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(VirtualDevice, EscapeFunctionsSwitchOneLineEach)
{
    const size_t before = wire.Changes().size();
    ASSERT_TRUE(EscapeCommFunction(device, CLRDTR));
    ASSERT_TRUE(EscapeCommFunction(device, SETRTS));
    ASSERT_TRUE(SetCommBreak(device));
    ASSERT_TRUE(ClearCommBreak(device));
    const std::vector<VirtualLineChange> changes = wire.ChangesFrom(before);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].line, VIRTUAL_LINE_DTR);
    EXPECT_FALSE(changes[0].raised);
    EXPECT_EQ(changes[1].line, VIRTUAL_LINE_RTS);
    EXPECT_TRUE(changes[1].raised);
    EXPECT_EQ(changes[2].line, VIRTUAL_LINE_BREAK);
    EXPECT_TRUE(changes[2].raised);
    EXPECT_FALSE(changes[3].raised);
    EXPECT_FALSE(EscapeCommFunction(device, 9));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CommCalls, BadHandlesAndPointersAreRefused)
{
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7777));
    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_FALSE(EscapeCommFunction(bogus, SETRTS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadComm(nullptr, &byte, 1, &count));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadComm(bogus, &byte, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitCommEvents(bogus, nullptr, 0, &count), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteComm(bogus, nullptr, 4, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CommTerminal, ModemLinesOfAPseudoTerminalAreNotSupported)
{
    PseudoTerminal terminal;
    terminal.MapTo(43);
    HANDLE device = OpenCom(43);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_FALSE(EscapeCommFunction(device, SETDTR));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(device, &dcb));
    dcb.BaudRate = 45;
    EXPECT_TRUE(SetCommState(device, &dcb));
    ASSERT_TRUE(GetCommState(device, &dcb));
    EXPECT_EQ(dcb.BaudRate, 45u);
    CloseHandle(device);
}

}  // namespace
