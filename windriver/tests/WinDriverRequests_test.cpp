// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the driver requests: codes, last-error state, handles, the
// version, and the records as a service receives them through the transport.
#include "windriver/WinDriverRequests.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/testing/TempFolder.h"
#include "wire/DriverWire.h"

namespace {

TEST(WinDriverRequests, CodesAndSizesFollowTheTable) {
    const struct {
        uint32_t code, function, size;
    } table[] = {
        {0x95383443, 0xD10, 132}, {0x9538368F, 0xDA3, 2016}, {0x9538343F, 0xD0F, 984}, {0x953836AF, 0xDAB, 1112},
        {0x953834AF, 0xD2B, 1112}, {0x9538346B, 0xD1A, 32}, {0x95383633, 0xD8C, 32},
    };
    const uint32_t codes[] = {WD_Version, WD_PciScanCards, WD_PciGetCardInfo, WD_CardRegister,
                              WD_CardUnregister, WD_PciConfigDump, WD_Transfer};
    for (std::size_t i = 0; i < std::size(table); ++i) {
        EXPECT_EQ(codes[i], table[i].code) << i;
        EXPECT_EQ(RequestCode(table[i].function), table[i].code) << i;
        EXPECT_EQ(wire::RecordSizeOf(table[i].code), table[i].size) << i;
    }
    EXPECT_EQ(wire::RecordSizeOf(RequestCode(0xD11)), 0u);
}

// A service that speaks the wire protocol by hand: it records each request
// frame and answers with whatever the test's function builds.
class FakeService {
public:
    using Reply = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;
    FakeService(Reply reply, int requests = 1) {
        dir_ = std::filesystem::temp_directory_path() / ("quorrin-fake-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "windrvr6").string();
        listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path_.c_str());
        unlink(path_.c_str());
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(listener_, 4), 0);
        thread_ = std::thread([this, reply, requests] {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            const wire::FrameHeader welcome{wire::WelcomeMagic, 0, 0, 0};
            send(fd, &welcome, sizeof welcome, MSG_NOSIGNAL);
            for (int i = 0; i < requests; ++i) {
                std::vector<uint8_t> frame(wire::MaxFrameSize);
                const ssize_t got = recv(fd, frame.data(), frame.size(), 0);
                if (got <= 0) break;
                frame.resize(static_cast<std::size_t>(got));
                frames_.push_back(frame);
                const auto answer = reply(frame);
                if (answer.empty()) break;  // leave without answering
                send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            }
            close(fd);
        });
        SetDriverDevice(path_);
    }
    ~FakeService() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
        std::filesystem::remove_all(dir_);
        SetDriverDevice(DefaultDriverDevice);
    }
    const std::vector<std::vector<uint8_t>>& Frames() const { return frames_; }

private:
    std::filesystem::path dir_;
    std::string path_;
    int listener_ = -1;
    std::thread thread_;
    std::vector<std::vector<uint8_t>> frames_;
};

std::vector<uint8_t> ReplyWith(uint32_t status, const void* record, uint32_t size) {
    std::vector<uint8_t> f(sizeof(wire::FrameHeader) + size);
    const wire::FrameHeader h{wire::ReplyMagic, status, size, 0};
    std::memcpy(f.data(), &h, sizeof h);
    std::memcpy(f.data() + sizeof h, record, size);
    return f;
}

TEST(WinDriverRequests, OpenDriverWithoutAService) {
    const platform::testing::TempFolder folder("quorrin-requests-");
    SetDriverDevice(folder.Path() + "/no-such-service");
    SetLastError(7, "old\n");
    EXPECT_EQ(OpenDriver(), NoDriverHandle);
    EXPECT_EQ(TakeLastError(), 1);
    EXPECT_EQ(TakeLastError(), 0);
    EXPECT_STREQ(LastErrorText, "CountCards() Failed opening WinDriver device\n");  // kept after taking
    // The probe fails too, leaves the version zero and the last error alone.
    DriverVersion.Version = 99;
    SetLastError(3, "x");
    EXPECT_FALSE(ProbeDriver());
    EXPECT_EQ(DriverVersion.Version, 0u);
    EXPECT_EQ(LastErrorCode, 3);
    TakeLastError();
    SetDriverDevice(DefaultDriverDevice);
    EXPECT_EQ(DriverDevice(), "/run/quorrin/windrvr6");
}

TEST(WinDriverRequests, RequestsOnNoHandleSendNothing) {
    VersionRecord v{};
    v.Version = 42;
    for (DriverHandle h : {NoDriverHandle, InvalidDriverHandle, DriverHandle{12345}}) {
        EXPECT_EQ(DriverRequest(WD_Version, h, &v, sizeof v), 0xFFFFFFFFu) << h;
        EXPECT_EQ(v.Version, 42u);
        CloseDriver(h);  // nothing happens
    }
}

TEST(WinDriverRequests, SetLastErrorCutsLongTexts) {
    const std::string longText(3000, 'x');
    SetLastError(9, longText.c_str());
    EXPECT_EQ(std::strlen(LastErrorText), sizeof LastErrorText - 1);
    SetLastError(9, "P9080_CardIsUsable->Failed Card Register.\n");
    EXPECT_STREQ(LastErrorText, "P9080_CardIsUsable->Failed Card Register.\n");
    EXPECT_EQ(TakeLastError(), 9);
}

TEST(WinDriverRequests, VersionThroughProbe) {
    const struct {
        uint32_t number;
        uint32_t major, minor;
    } cases[] = {{1110, 11, 10}, {905, 9, 5}};
    for (const auto& c : cases) {
        FakeService service([&](const std::vector<uint8_t>&) {
            VersionRecord v{};
            v.Version = c.number;
            std::strcpy(v.Text, "fake");
            return ReplyWith(0, &v, sizeof v);
        });
        ASSERT_TRUE(ProbeDriver());
        VersionRecord mine{};
        EXPECT_EQ(GetDriverVersion(&mine), &mine);
        EXPECT_EQ(mine.Version / 100, c.major);
        EXPECT_EQ(mine.Version % 100, c.minor);
        EXPECT_STREQ(mine.Text, "fake");
        ASSERT_EQ(service.Frames().size(), 1u);
        wire::FrameHeader h;
        std::memcpy(&h, service.Frames()[0].data(), sizeof h);
        EXPECT_EQ(h.CodeOrStatus, WD_Version);
        EXPECT_EQ(h.RecordSize, 132u);
    }
}

TEST(WinDriverRequests, RefusedProbeLeavesTheVersionZero) {
    FakeService service([](const std::vector<uint8_t>&) {
        VersionRecord v{};
        return ReplyWith(wire::StatusRefused, &v, 0);
    });
    DriverVersion.Version = 5;
    EXPECT_TRUE(ProbeDriver());
    EXPECT_EQ(DriverVersion.Version, 0u);
}

TEST(WinDriverRequests, ServiceSeesEveryFieldAtItsOffset) {
    FakeService service([](const std::vector<uint8_t>& request) {
        // Echo the record with a marker in the card handle.
        std::vector<uint8_t> reply(request);
        wire::FrameHeader h;
        std::memcpy(&h, reply.data(), sizeof h);
        h.Magic = wire::ReplyMagic;
        h.CodeOrStatus = 0;
        std::memcpy(reply.data(), &h, sizeof h);
        const uint32_t marker = 0x600D;
        std::memcpy(reply.data() + sizeof h + 972, &marker, 4);
        return reply;
    });
    const DriverHandle h = OpenDriver();
    ASSERT_NE(h, NoDriverHandle);
    CardRegisterRecord r{};
    r.Card.NumItems = 2;
    r.Card.Items[0].Type = ItemMemory;
    r.Card.Items[0].Mem.PhysicalAddress = 0xF0000000;
    r.Card.Items[0].Mem.Bytes = 0x200;
    r.Card.Items[0].Mem.Bar = 2;
    r.Card.Items[1].Type = ItemIO;
    r.Card.Items[1].IO.Address = 0x1122334455667788ull;
    r.Card.Items[1].IO.Bytes = 0x80;
    r.Card.Items[1].IO.Bar = 1;
    r.Options = 0xABCD;
    std::strcpy(r.Name, "name");
    EXPECT_EQ(DriverRequest(WD_CardRegister, h, &r, sizeof r), 0u);
    CloseDriver(h);
    EXPECT_EQ(r.CardHandle, 0x600Du);
    ASSERT_EQ(service.Frames().size(), 1u);
    const std::vector<uint8_t>& f = service.Frames()[0];
    ASSERT_EQ(f.size(), sizeof(wire::FrameHeader) + 1112);
    const uint8_t* rec = f.data() + sizeof(wire::FrameHeader);
    auto u32 = [&](std::size_t at) {
        uint32_t v;
        std::memcpy(&v, rec + at, 4);
        return v;
    };
    auto u64 = [&](std::size_t at) {
        uint64_t v;
        std::memcpy(&v, rec + at, 8);
        return v;
    };
    const std::size_t item0 = 8, item1 = 8 + 48;
    EXPECT_EQ(u32(0), 2u);
    EXPECT_EQ(u32(item0 + 0), 2u);
    EXPECT_EQ(u32(item0 + 16), 0xF0000000u);
    EXPECT_EQ(u32(item0 + 20), 0x200u);
    EXPECT_EQ(u32(item0 + 44), 2u);
    EXPECT_EQ(u32(item1 + 0), 3u);
    EXPECT_EQ(u64(item1 + 16), 0x1122334455667788ull);
    EXPECT_EQ(u32(item1 + 24), 0x80u);
    EXPECT_EQ(u32(item1 + 28), 1u);
    EXPECT_EQ(u32(968), 0u);
    EXPECT_EQ(u32(976), 0xABCDu);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec + 980)), "name");
}

TEST(WinDriverRequests, TransferFieldsAtTheirOffsets) {
    FakeService service([](const std::vector<uint8_t>& request) {
        TransferRecord t;
        std::memcpy(&t, request.data() + sizeof(wire::FrameHeader), sizeof t);
        return ReplyWith(0, &t, sizeof t);
    });
    const DriverHandle h = OpenDriver();
    ASSERT_NE(h, NoDriverHandle);
    uint8_t bytes[4] = {9, 8, 7, 6};
    TransferRecord t{};
    t.Address = 0x1FFFFFFFFull;
    t.Command = WritePortByte;
    t.Bytes = 4;
    t.AutoIncrement = 1;
    t.Data = ClientAddress(bytes, sizeof bytes);
    EXPECT_EQ(DriverRequest(WD_Transfer, h, &t, sizeof t), 0u);
    CloseDriver(h);
    ASSERT_EQ(service.Frames().size(), 1u);
    const auto& f = service.Frames()[0];
    ASSERT_EQ(f.size(), sizeof(wire::FrameHeader) + 32 + 4);  // the bytes to write ride along
    const uint8_t* rec = f.data() + sizeof(wire::FrameHeader);
    uint64_t address;
    uint32_t command, count, increment;
    std::memcpy(&address, rec, 8);
    std::memcpy(&command, rec + 8, 4);
    std::memcpy(&count, rec + 12, 4);
    std::memcpy(&increment, rec + 16, 4);
    EXPECT_EQ(address, 0x1FFFFFFFFull);
    EXPECT_EQ(command, 23u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(increment, 1u);
    EXPECT_EQ(std::vector<uint8_t>(rec + 32, rec + 36), std::vector<uint8_t>(bytes, bytes + 4));
}

TEST(WinDriverRequests, GarbledReplyFailsTheRequestAndTheConnection) {
    FakeService service([](const std::vector<uint8_t>&) { return std::vector<uint8_t>(5, 0xEE); }, 2);
    const DriverHandle h = OpenDriver();
    ASSERT_NE(h, NoDriverHandle);
    VersionRecord v{};
    EXPECT_EQ(DriverRequest(WD_Version, h, &v, sizeof v), 0xFFFFFFFFu);
    EXPECT_EQ(v.Version, 0u);
    EXPECT_EQ(DriverRequest(WD_Version, h, &v, sizeof v), 0xFFFFFFFFu);  // out of step: nothing more is sent
    CloseDriver(h);
    EXPECT_EQ(service.Frames().size(), 1u);
}

}  // namespace
