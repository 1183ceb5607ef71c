// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the request decoder: every frame the service may receive.
#include "driver/RequestDecoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "wire/DriverWire.h"

namespace {

using driverd::DecodeRequest;
using driverd::DecodedRequest;
using driverd::Refusal;

std::vector<uint8_t> Frame(uint32_t magic, uint32_t code, const void* record, uint32_t recordSize,
                           uint32_t dataSize, uint32_t announcedRecord, uint32_t announcedData) {
    std::vector<uint8_t> f(sizeof(wire::FrameHeader) + recordSize + dataSize, 0xA5);
    const wire::FrameHeader h{magic, code, announcedRecord, announcedData};
    std::memcpy(f.data(), &h, sizeof h);
    if (record) std::memcpy(f.data() + sizeof h, record, recordSize);
    return f;
}

std::vector<uint8_t> Request(uint32_t code, const void* record, uint32_t size, uint32_t dataSize = 0) {
    return Frame(wire::RequestMagic, code, record, size, dataSize, size, dataSize);
}

TransferRecord Transfer(uint32_t command, uint32_t bytes, uint32_t autoIncrement = 1) {
    TransferRecord t{};
    t.Address = 0xE06F;
    t.Command = command;
    t.Bytes = bytes;
    t.AutoIncrement = autoIncrement;
    return t;
}

ConfigAccessRecord Config(uint32_t offset, uint32_t bytes, uint32_t direction = ConfigDirectionRead) {
    ConfigAccessRecord c{};
    c.Offset = offset;
    c.Bytes = bytes;
    c.Direction = direction;
    return c;
}

TEST(RequestDecoder, EveryRecordOfTheRightSizeIsAccepted) {
    const struct {
        uint32_t code;
        uint32_t size;
    } cases[] = {{WD_Version, 132}, {WD_PciScanCards, 2016}, {WD_PciGetCardInfo, 984},
                 {WD_CardRegister, 1112}, {WD_CardUnregister, 1112}};
    for (const auto& c : cases) {
        std::vector<uint8_t> record(c.size, 0);
        record[0] = 7;
        const auto f = Request(c.code, record.data(), c.size);
        DecodedRequest out;
        EXPECT_EQ(DecodeRequest(f.data(), f.size(), out), Refusal::None) << std::hex << c.code;
        EXPECT_EQ(out.Code, c.code);
        EXPECT_EQ(out.RecordSize, c.size);
        EXPECT_EQ(reinterpret_cast<const uint8_t*>(&out.Record)[0], 7);
        // The wrong size for the same code is answered, not served.
        const auto shorter = Request(c.code, record.data(), c.size - 4);
        EXPECT_EQ(DecodeRequest(shorter.data(), shorter.size(), out), Refusal::WrongRecordSize);
    }
}

TEST(RequestDecoder, BrokenFramesDropTheConnection) {
    const VersionRecord v{};
    auto good = Request(WD_Version, &v, sizeof v);
    const struct {
        const char* name;
        std::vector<uint8_t> frame;
        Refusal expected;
    } cases[] = {
        {"empty", {}, Refusal::Truncated},
        {"half a header", std::vector<uint8_t>(good.begin(), good.begin() + 8), Refusal::Truncated},
        {"record cut short", std::vector<uint8_t>(good.begin(), good.end() - 1), Refusal::Truncated},
        {"bytes past the record", Frame(wire::RequestMagic, WD_Version, &v, sizeof v, 4, sizeof v, 0), Refusal::Oversized},
        {"wrong magic", Frame(0x12345678, WD_Version, &v, sizeof v, 0, sizeof v, 0), Refusal::BadMagic},
        {"record larger than any", Frame(wire::RequestMagic, WD_Version, nullptr, 0, 0, 0xFFFFFFF0u, 0x20u), Refusal::Oversized},
        {"sizes that wrap", Frame(wire::RequestMagic, WD_Version, nullptr, 0, 0, 0x10u, 0xFFFFFFF8u), Refusal::Oversized},
        {"frame past the limit", std::vector<uint8_t>(wire::MaxFrameSize + 1, 0), Refusal::Oversized},
    };
    for (const auto& c : cases) {
        DecodedRequest out;
        const Refusal r = DecodeRequest(c.frame.data(), c.frame.size(), out);
        EXPECT_EQ(r, c.expected) << c.name;
        EXPECT_TRUE(driverd::DropsConnection(r)) << c.name;
    }
}

TEST(RequestDecoder, UnknownCodeIsAnsweredWithItsOwnStatus) {
    const TransferRecord t = Transfer(ReadPortByte, 1);
    const auto f = Request(RequestCode(0xD11), &t, sizeof t);
    DecodedRequest out;
    const Refusal r = DecodeRequest(f.data(), f.size(), out);
    EXPECT_EQ(r, Refusal::UnknownCode);
    EXPECT_FALSE(driverd::DropsConnection(r));
    EXPECT_EQ(driverd::RefusalStatus(r), wire::StatusUnknownRequest);
    EXPECT_NE(driverd::RefusalStatus(Refusal::BadField), 0u);
    EXPECT_EQ(driverd::RefusalStatus(Refusal::None), 0u);
}

TEST(RequestDecoder, TransferFields) {
    const struct {
        const char* name;
        TransferRecord record;
        uint32_t dataSize;
        Refusal expected;
    } cases[] = {
        {"byte read", Transfer(ReadPortByte, 1), 0, Refusal::None},
        {"dword write with its data", Transfer(WriteMemDword, 8), 8, Refusal::None},
        {"word read to one address", Transfer(ReadMemWord, 6, 0), 0, Refusal::None},
        {"largest transfer", Transfer(ReadMemByte, wire::MaxTransferBytes), 0, Refusal::None},
        {"command 0", Transfer(0, 4), 0, Refusal::BadField},
        {"command 26", Transfer(26, 4), 0, Refusal::BadField},
        {"no bytes", Transfer(ReadPortByte, 0), 0, Refusal::BadField},
        {"not a multiple of the word", Transfer(ReadPortWord, 3), 0, Refusal::BadField},
        {"not a multiple of the dword", Transfer(ReadMemDword, 6), 0, Refusal::BadField},
        {"too many bytes", Transfer(ReadMemByte, wire::MaxTransferBytes + 1), 0, Refusal::BadField},
        {"auto-increment 2", Transfer(ReadMemByte, 1, 2), 0, Refusal::BadField},
        {"write without data", Transfer(WritePortByte, 1), 0, Refusal::BadData},
        {"write with too little data", Transfer(WriteMemDword, 8), 4, Refusal::BadData},
        {"read carrying data", Transfer(ReadPortByte, 1), 1, Refusal::BadData},
    };
    for (const auto& c : cases) {
        const auto f = Request(WD_Transfer, &c.record, sizeof c.record, c.dataSize);
        DecodedRequest out;
        EXPECT_EQ(DecodeRequest(f.data(), f.size(), out), c.expected) << c.name;
        if (c.expected == Refusal::None) {
            EXPECT_EQ(out.DataSize, c.dataSize) << c.name;
            EXPECT_EQ(out.Data != nullptr, c.dataSize != 0) << c.name;
        }
    }
}

TEST(RequestDecoder, ConfigurationFields) {
    const struct {
        const char* name;
        ConfigAccessRecord record;
        Refusal expected;
    } cases[] = {
        {"dword at 0", Config(0, 4), Refusal::None},
        {"one byte at the very end", Config(4095, 1), Refusal::None},
        {"dword at the very end", Config(4092, 4), Refusal::None},
        {"no bytes", Config(0, 0), Refusal::BadField},
        {"five bytes", Config(0, 5), Refusal::BadField},
        {"past extended space", Config(4093, 4), Refusal::BadField},
        {"offset that would wrap", Config(0xFFFFFFFFu, 4), Refusal::BadField},
        {"a write: well-formed, refused by the policy", Config(0, 4, 0), Refusal::None},
    };
    for (const auto& c : cases) {
        const auto f = Request(WD_PciConfigDump, &c.record, sizeof c.record);
        DecodedRequest out;
        EXPECT_EQ(DecodeRequest(f.data(), f.size(), out), c.expected) << c.name;
    }
    // Data belongs to transfers only.
    const ConfigAccessRecord c = Config(0, 4);
    const auto f = Request(WD_PciConfigDump, &c, sizeof c, 4);
    DecodedRequest out;
    EXPECT_EQ(DecodeRequest(f.data(), f.size(), out), Refusal::BadData);
}

}  // namespace
