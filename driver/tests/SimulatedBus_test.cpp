// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the simulated bus: the file format, its refusals, and the PLX
// register block with its serial EEPROM read bit by bit as the sniffer does.
#include "driver/SimulatedBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/testing/Microwire.h"

namespace {

using driverd::Bus;
using driverd::Location;
using driverd::ResourceKind;

bool Done(driverd::TransferResult r) { return r == driverd::TransferResult::Done; }

std::unique_ptr<Bus> Load(const std::string& json) {
    std::string error;
    auto bus = driverd::LoadSimulatedBus(json, "bus.json", error);
    EXPECT_TRUE(bus) << error;
    return bus;
}

std::string Plx(const std::string& device, const std::string& eeprom) {
    return R"({"functions":[{"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":")" + device +
           R"(","resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},)"
           R"({"type":"io","bar":1,"address":"0xE000","length":"0x100"},{"type":"interrupt","number":11}])" +
           eeprom + "}]}";
}

TEST(SimulatedBus, RejectsFilesThatDoNotFit) {
    const struct {
        const char* json;
        const char* message;
    } cases[] = {
        {"{", "bus.json: not valid JSON"},
        {"[]", "bus.json: expected an object with a \"functions\" list"},
        {R"({"functions":{}})", "bus.json: expected an object"},
        {R"({"functions":[{"slot":1,"function":0}]})", "bus.json: function 0 (?): bus: missing"},
        {R"({"functions":[{"bus":1,"slot":32,"function":0}]})", "function 0 (?): slot: 32 is larger than 31"},
        {R"({"functions":[{"bus":1,"slot":2,"function":-1}]})", "function 0 (?): function: negative number"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0},{"bus":1,"slot":3,"function":0,"vendor":"10B5"}]})",
         "bus.json: function 1 (01:03.0): vendor: \"10B5\" is not a number"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"device":"0x10000"}]})",
         "(01:02.0): device: 65536 is larger than 65535"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"config":"00: b5 1"}]})",
         "(01:02.0): config line 1: \"1\" is not a hex byte"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"config":"00: 00\nxyz"}]})",
         "(01:02.0): config line 2: expected"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"config":"ff0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}]})",
         "config line 1: past the 4096 bytes"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"dma"}]}]})",
         "(01:02.0): resources[0].type: \"dma\" is not memory, io or interrupt"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"memory","bar":0,"address":1}]}]})",
         "(01:02.0): resources[0].length: missing"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"io","bar":1,"address":"0xE000","length":0}]}]})",
         "resources[0].length: 0"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"memory","bar":0,"address":"0xFFFFFFFFFFFFF000","length":"0x2000"}]}]})",
         "resources[0].length: runs past the 64-bit address space"},
        // Memory of any length is taken (a page held only once written); I/O
        // is bounded by the I/O space.
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"io","bar":0,"address":1,"length":"0x10001"}]}]})",
         "resources[0].length: 65537 is larger than 65536"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"memory","bar":7,"address":1,"length":1}]}]})",
         "resources[0].bar: 7 is larger than 6"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"resources":[{"type":"interrupt"}]}]})",
         "resources[0].number: missing"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"eeprom":["0x1","0x10000"]}]})",
         "(01:02.0): eeprom[1]: 65536 is larger"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0,"faults":["register-refused","explode"]}]})",
         "(01:02.0): faults[1]: not one of"},
        {R"({"functions":[{"bus":1,"slot":2,"function":0},{"bus":1,"slot":2,"function":0}]})",
         "function 1 (01:02.0): bus, slot, function: the same as function 0"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(driverd::LoadSimulatedBus(c.json, "bus.json", error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error;
        EXPECT_EQ(error.rfind("bus.json: ", 0), 0u) << error;
    }
}

TEST(SimulatedBus, TooManyResourcesAreRefused) {
    std::string items;
    for (int i = 0; i < 21; ++i) items += std::string(i ? "," : "") + R"({"type":"interrupt","number":)" + std::to_string(i) + "}";
    std::string error;
    EXPECT_FALSE(driverd::LoadSimulatedBus(R"({"functions":[{"bus":0,"slot":1,"function":0,"resources":[)" + items + "]}]}",
                                           "b", error));
    EXPECT_NE(error.find("resources: 21 items, at most 20"), std::string::npos) << error;
}

TEST(SimulatedBus, ConfigFromAnLspciDump) {
    auto bus = Load(R"({"functions":[
      {"bus":3,"slot":0,"function":1,"config":"03:00.1 Bridge: PLX Technology, Inc. PCI9056\n00: b5 10 56 90 07 00 90 02\n\n3c: 0b 01\n"},
      {"bus":3,"slot":0,"function":0,"vendor":4660,"device":"0xabcd","config":"00: b5 10 56 90\r\n100: 01 00 01 00"},
      {"bus":1,"slot":9,"function":0}]})");
    const auto list = bus->Scan();
    ASSERT_EQ(list.size(), 3u);
    // Stable order bus, slot, function whatever the file's order.
    EXPECT_EQ(list[0].Where, (Location{1, 9, 0}));
    EXPECT_EQ(list[1].Where, (Location{3, 0, 0}));
    EXPECT_EQ(list[2].Where, (Location{3, 0, 1}));
    EXPECT_EQ(list[1].VendorId, 0x1234);
    EXPECT_EQ(list[1].DeviceId, 0xABCD);
    EXPECT_EQ(list[2].VendorId, 0x10B5);
    EXPECT_EQ(list[0].VendorId, 0);

    const Location plx{3, 0, 1}, extended{3, 0, 0};
    EXPECT_EQ(bus->ConfigSize(plx), 256u);
    EXPECT_EQ(bus->ConfigSize(extended), 4096u);
    EXPECT_EQ(bus->ConfigSize({9, 9, 0}), 0u);
    uint32_t v = 0;
    ASSERT_TRUE(bus->ReadConfig(plx, 0, 4, v));
    EXPECT_EQ(v, 0x905610B5u);
    ASSERT_TRUE(bus->ReadConfig(plx, 5, 3, v));
    EXPECT_EQ(v, 0x029000u);
    ASSERT_TRUE(bus->ReadConfig(plx, 0x3C, 2, v));
    EXPECT_EQ(v, 0x010Bu);
    ASSERT_TRUE(bus->ReadConfig(plx, 0x10, 4, v));  // bytes not given read 0
    EXPECT_EQ(v, 0u);
    EXPECT_FALSE(bus->ReadConfig(plx, 0xFE, 4, v));
    ASSERT_TRUE(bus->ReadConfig(extended, 0, 4, v));
    EXPECT_EQ(v, 0xABCD1234u);  // vendor and device win over the dump
    ASSERT_TRUE(bus->ReadConfig(extended, 0x100, 4, v));
    EXPECT_EQ(v, 0x00010001u);
}

TEST(SimulatedBus, ResourcesAndFaults) {
    auto bus = Load(Plx("0x9056", R"(,"faults":["card-info-refused","config-refused","register-no-handle"])"));
    const Location where{2, 4, 0};
    std::vector<driverd::Resource> resources;
    EXPECT_FALSE(bus->CardInfo(where, resources));
    uint32_t v;
    EXPECT_FALSE(bus->ReadConfig(where, 0, 4, v));
    EXPECT_EQ(bus->Register(where), driverd::RegisterAnswer::NoHandle);

    auto plain = Load(Plx("0x9056", R"(,"faults":["register-refused"])"));
    ASSERT_TRUE(plain->CardInfo(where, resources));
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_EQ(resources[0], (driverd::Resource{ResourceKind::Memory, 0, 0xF0000000u, 0x200, 0}));
    EXPECT_EQ(resources[1], (driverd::Resource{ResourceKind::IO, 1, 0xE000, 0x100, 0}));
    EXPECT_EQ(resources[2].Kind, ResourceKind::Interrupt);
    EXPECT_EQ(resources[2].Number, 11u);
    EXPECT_EQ(plain->Register(where), driverd::RegisterAnswer::Refused);
}

// A modern machine's 64-bit BARs: the whole bus address up to the last byte
// below 2^64, as lspci and sysfs give it.
TEST(SimulatedBus, MemoryAbove4GiB) {
    auto bus = Load(R"({"functions":[{"bus":0,"slot":1,"function":0,"resources":[
        {"type":"memory","bar":0,"address":"0x4000000000","length":"0x80000"},
        {"type":"memory","bar":2,"address":"0xFFFFFFFFFFFFF000","length":"0x1000"}]}]})");
    std::vector<driverd::Resource> resources;
    ASSERT_TRUE(bus->CardInfo({0, 1, 0}, resources));
    ASSERT_EQ(resources.size(), 2u);
    EXPECT_EQ(resources[0].Address, 0x4000000000ull);
    EXPECT_EQ(resources[1].Address, 0xFFFFFFFFFFFFF000ull);
    uint8_t last = 0x5A;
    EXPECT_TRUE(Done(bus->Transfer({0, 1, 0}, 1, 0xFFF, 1, false, true, &last, 1)));
}

TEST(SimulatedBus, MemoryIsZeroedAndKeepsWhatIsWritten) {
    auto bus = Load(Plx("0x9080", ""));
    const Location where{2, 4, 0};
    uint8_t data[8] = {};
    ASSERT_TRUE(Done(bus->Transfer(where, 0, 0x1F8, 4, true, true, data, 8)));
    for (uint8_t b : data) EXPECT_EQ(b, 0);
    const uint8_t pattern[4] = {1, 2, 3, 4};
    std::copy(pattern, pattern + 4, data);
    ASSERT_TRUE(Done(bus->Transfer(where, 0, 0x10, 2, false, true, data, 4)));
    uint8_t back[4] = {};
    ASSERT_TRUE(Done(bus->Transfer(where, 0, 0x10, 1, true, true, back, 4)));
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(pattern, pattern + 4));
    EXPECT_FALSE(Done(bus->Transfer(where, 0, 0x1FC, 4, true, true, data, 8)));  // would run past the end
    // Other bytes of the register block read back what was written.
    uint8_t one = 0x5A;
    ASSERT_TRUE(Done(bus->Transfer(where, 1, 0x40, 1, false, true, &one, 1)));
    one = 0;
    ASSERT_TRUE(Done(bus->Transfer(where, 1, 0x40, 1, true, true, &one, 1)));
    EXPECT_EQ(one, 0x5A);
}

// The EEPROM reader exactly as the sniffer runs it, over the register block.
class Reader {
public:
    // `index`: the resource of the register block, BAR 1 (I/O) or BAR 0 (memory).
    Reader(Bus& bus, Location where, std::size_t index = 1) : bus_(bus), where_(where), index_(index) {}
    uint8_t R(uint32_t offset = 0x6F) {
        uint8_t v = 0;
        EXPECT_TRUE(Done(bus_.Transfer(where_, index_, offset, 1, true, true, &v, 1)));
        return v;
    }
    void W(uint8_t v) {
        EXPECT_TRUE(Done(bus_.Transfer(where_, index_, 0x6F, 1, false, true, &v, 1)));
        if ((v & 0x01) && !(last_ & 0x01)) {  // rising clock: remember what the part saw
            edges_.push_back((v & 0x04) ? 1 : 0);
        }
        last_ = v;
    }
    uint16_t ReadWord(unsigned index) {
        edges_.clear();
        const uint16_t word = microwire::ReadWordAsTheSniff([this](uint32_t offset) { return R(offset); },
                                                            [this](uint8_t v) { W(v); }, index);
        // The instruction is what the first 9 or 11 edges took.
        const std::size_t bits = R(0x72) == 0x56 ? 11 : 9;
        instruction_.assign(edges_.begin(), edges_.begin() + static_cast<std::ptrdiff_t>(std::min(bits, edges_.size())));
        return word;
    }
    const std::vector<int>& Instruction() const { return instruction_; }

private:
    Bus& bus_;
    Location where_;
    std::size_t index_;
    uint8_t last_ = 0;
    std::vector<int> edges_, instruction_;
};

std::string Words(int count, uint16_t first) {
    std::string list = R"(,"eeprom":[)";
    for (int i = 0; i < count; ++i) list += (i ? ",\"" : "\"") + ("0x" + [&] {
        char t[8];
        std::snprintf(t, sizeof t, "%04X", static_cast<uint16_t>(first + i * 0x0101));
        return std::string(t);
    }()) + "\"";
    return list + "]";
}

TEST(SimulatedBus, EepromReadsBackEveryWordOnBothBridges) {
    const struct {
        const char* device;
        uint8_t id;
        std::vector<int> word4;
    } cases[] = {
        {"0x9056", 0x56, {1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
        {"0x9080", 0x80, {1, 1, 0, 0, 0, 0, 1, 0, 0}},
    };
    for (const auto& c : cases) {
        auto bus = Load(Plx(c.device, Words(64, 0x1234)));
        // BAR 0 and BAR 1 map the same registers, so the same part.
        for (std::size_t index : {1u, 0u}) {
            Reader reader(*bus, {2, 4, 0}, index);
            EXPECT_EQ(reader.R(0x72), c.id) << c.device;
            EXPECT_EQ(reader.R(0x70), 0xB5) << c.device;
            for (unsigned i = 0; i < 64; ++i)
                EXPECT_EQ(reader.ReadWord(i), static_cast<uint16_t>(0x1234 + i * 0x0101))
                    << c.device << " word " << i << " through resource " << index;
            reader.ReadWord(4);
            EXPECT_EQ(reader.Instruction(), c.word4) << c.device;
        }
        Reader io(*bus, {2, 4, 0}, 1), memory(*bus, {2, 4, 0}, 0);
        memory.W(0x82);
        EXPECT_EQ(io.R() & 0x87, 0x82) << "one control byte behind both";
    }
}

TEST(SimulatedBus, EepromWordsNotGivenAndNoPart) {
    auto some = Load(Plx("0x9056", R"(,"eeprom":["0x9056","0x10B5","0x0680"])"));
    Reader reader(*some, {2, 4, 0});
    EXPECT_EQ(reader.ReadWord(0), 0x9056);
    EXPECT_EQ(reader.ReadWord(1), 0x10B5);
    EXPECT_EQ(reader.ReadWord(2), 0x0680);
    EXPECT_EQ(reader.ReadWord(3), 0xFFFF);
    EXPECT_EQ(reader.ReadWord(63), 0xFFFF);

    auto none = Load(Plx("0x9080", ""));
    Reader bare(*none, {2, 4, 0});
    for (unsigned i : {0u, 1u, 62u, 63u}) EXPECT_EQ(bare.ReadWord(i), 0xFFFF) << i;
    // The data line reads 1 whatever the other lines do.
    EXPECT_EQ(bare.R() & 0x08, 0x08);
}

TEST(SimulatedBus, EepromOnlyBehindAPlxBridge) {
    // Same words, but not a PLX bridge: byte 0x6F is plain storage.
    auto other = Load(R"({"functions":[{"bus":0,"slot":1,"function":0,"vendor":"0x10B5","device":"0x9054",)"
                      R"("resources":[{"type":"io","bar":1,"address":"0xE000","length":"0x100"}],"eeprom":["0x0000"]}]})");
    uint8_t v = 0x08 | 0x02;
    ASSERT_TRUE(Done(other->Transfer({0, 1, 0}, 0, 0x6F, 1, false, true, &v, 1)));
    v = 0x01;
    ASSERT_TRUE(Done(other->Transfer({0, 1, 0}, 0, 0x6F, 1, false, true, &v, 1)));
    ASSERT_TRUE(Done(other->Transfer({0, 1, 0}, 0, 0x6F, 1, true, true, &v, 1)));
    EXPECT_EQ(v, 0x01);
}

}  // namespace
