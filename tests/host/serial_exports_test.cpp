// The COM port exports as a host uses them, on virtual ports.
#include <cstring>

#include <ruzada/virtualport.h>

#include "module_fixture.h"

namespace rz::test::host {
namespace {

// A virtual port standing in for COM `number` while it lives.
class ComPortWire {
public:
    explicit ComPortWire(int number) : m_name("host-com" + std::to_string(number))
    {
        VirtualPortCreate(m_name.c_str());
        setenv(("RUZADA_COM" + std::to_string(number)).c_str(), ("virtual:" + m_name).c_str(), 1);
    }
    ~ComPortWire() { VirtualPortDestroy(m_name.c_str()); }
    ComPortWire(const ComPortWire&) = delete;
    ComPortWire& operator=(const ComPortWire&) = delete;

    const char* Name() const { return m_name.c_str(); }
    bool Open() const { return VirtualPortIsOpen(m_name.c_str()); }
    void Feed(const std::string& bytes) const { VirtualPortFeed(m_name.c_str(), bytes.data(), bytes.size()); }
    size_t Changes() const { return VirtualPortLineChanges(m_name.c_str(), nullptr, 0); }

private:
    std::string m_name;
};

class SerialExports : public ModuleTest {
protected:
    void SetUp() override
    {
        Load();
        api.InitDG(host.Handle());
    }

    CCOMPort* Open(int number, int byteSize = 8) { return api.DGOpenComPort(number, 0, 0, byteSize, 9600); }
    // Exported members, called as a host without the class's header would.
    int Member(const char* mangled, CCOMPort* port) { return module->Get<int (*)(const CCOMPort*)>(mangled)(port); }
    int PortActive(CCOMPort* port) { return Member("_ZNK8CCOMPort10PortActiveEv", port); }
    int Size(CCOMPort* port) { return Member("_ZNK8CCOMPort4sizeEv", port); }
    int OutSize(CCOMPort* port) { return Member("_ZNK8CCOMPort7outsizeEv", port); }
};

TEST_F(SerialExports, PortZeroOpensThePortTheHostNames)
{
    ComPortWire com3(3);
    host.AnswerRequestCom(3);
    CCOMPort* port = Open(0);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(com3.Open());
    const std::vector<rz::test::harness::Received> asked = host.Messages(host.msgRequestCom);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].wParam, 0u);
    EXPECT_EQ(asked[0].lParam, 0);
    api.DGCloseComPort(port);
    EXPECT_FALSE(com3.Open());
}

TEST_F(SerialExports, AHostWithoutAPortGetsNothing)
{
    host.AnswerRequestCom(0);
    EXPECT_EQ(Open(0), nullptr);
    EXPECT_EQ(GetLastError(), 13u);
}

TEST_F(SerialExports, PortNumbersOutOfRangeOpenCom1)
{
    ComPortWire com1(1);
    CCOMPort* port = Open(300);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(com1.Open());
    EXPECT_EQ(PortActive(port), 1);
    api.DGCloseComPort(port);
}

TEST_F(SerialExports, AMissingDeviceStillGivesAClosedPort)
{
    setenv("RUZADA_COM4", "/nonexistent/ttyRUZ4", 1);
    CCOMPort* port = Open(4);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_EQ(PortActive(port), 0);
    api.DGCloseComPort(port);
}

TEST_F(SerialExports, APortInUseCannotBeOpenedAgain)
{
    ComPortWire com5(5);
    CCOMPort* first = Open(5);
    CCOMPort* second = Open(5);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(PortActive(second), 0);
    EXPECT_EQ(PortActive(first), 1);
    api.DGCloseComPort(second);
    EXPECT_EQ(PortActive(first), 1);
    api.DGCloseComPort(first);
}

TEST_F(SerialExports, ReadsFitTheCallersBuffer)
{
    ComPortWire com6(6);
    CCOMPort* port = Open(6);
    unsigned char buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);

    com6.Feed("0123456789");
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return Size(port) == 10; }, 5s));
    EXPECT_EQ(api.DGReadComPort(port, buffer, 64), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "0123456789");
    EXPECT_EQ(api.DGReadComPort(port, buffer, 64), 0);

    std::memset(buffer, 0xEE, sizeof buffer);
    com6.Feed("abcdefghij");
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return Size(port) == 10; }, 5s));
    EXPECT_EQ(api.DGReadComPort(port, buffer, 4), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");
    EXPECT_EQ(buffer[4], 0xEE);
    EXPECT_EQ(Size(port), 0);
    EXPECT_EQ(api.DGReadComPort(port, buffer, 64), 0);
    api.DGCloseComPort(port);
}

TEST_F(SerialExports, WritesReachTheLine)
{
    ComPortWire com7(7);
    CCOMPort* port = Open(7);
    const unsigned char text[] = {'d', 'e', ' ', 'D', 'L'};
    api.DGWriteComPort(port, text, 5);
    api.DGWriteComPort(port, nullptr, 3);
    api.DGWriteComPort(port, text, -1);
    std::vector<unsigned char> sent;
    ASSERT_TRUE(rz::test::harness::WaitUntil(
        [&] {
            unsigned char chunk[16];
            const size_t n = VirtualPortDrain(com7.Name(), chunk, sizeof chunk);
            sent.insert(sent.end(), chunk, chunk + n);
            return sent.size() >= 5;
        },
        5s));
    EXPECT_EQ(sent, std::vector<unsigned char>(text, text + 5));
    EXPECT_EQ(OutSize(port), 0);
    api.DGCloseComPort(port);
}

TEST_F(SerialExports, RtsControlsFollowTheKeyingFlag)
{
    ComPortWire com8(8);
    CCOMPort* port = Open(8);
    size_t mark = com8.Changes();
    const auto start = std::chrono::steady_clock::now();
    api.DGSetRTS(port, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(com8.Changes(), mark + 1);

    api.DGEnablePortRTS(port, 1);
    mark = com8.Changes();
    api.DGSetRTS(port, 1);
    EXPECT_EQ(com8.Changes(), mark);
    api.DGEnablePortRTS(port, 0);
    EXPECT_EQ(com8.Changes(), mark + 2);
    api.DGCloseComPort(port);
}

TEST_F(SerialExports, ClosingTwiceAndForeignPointersAreHarmless)
{
    ComPortWire com9(9);
    CCOMPort* port = Open(9);
    api.DGCloseComPort(port);
    api.DGCloseComPort(port);
    api.DGCloseComPort(nullptr);

    int notAPort = 0;
    auto* foreign = reinterpret_cast<CCOMPort*>(&notAPort);
    unsigned char buffer[4] = {};
    const unsigned char byte = 1;
    for (CCOMPort* bad : {static_cast<CCOMPort*>(nullptr), foreign, port}) {
        EXPECT_EQ(api.DGReadComPort(bad, buffer, 4), 0);
        api.DGWriteComPort(bad, &byte, 1);
        api.DGEnablePortRTS(bad, 1);
        api.DGSetRTS(bad, 1);
        api.DGCloseComPort(bad);
    }
    EXPECT_EQ(notAPort, 0);
    EXPECT_FALSE(com9.Open());
}

TEST_F(SerialExports, UnloadingClosesEveryPortLeftOpen)
{
    ComPortWire com10(10), com11(11);
    const int descriptors = rz::test::harness::OpenDescriptorCount();
    ASSERT_NE(Open(10), nullptr);
    ASSERT_NE(Open(11, 5), nullptr);
    EXPECT_TRUE(com10.Open());
    EXPECT_TRUE(com11.Open());
    module->Unload();
    EXPECT_FALSE(com10.Open());
    EXPECT_FALSE(com11.Open());
    EXPECT_LE(rz::test::harness::OpenDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace rz::test::host
