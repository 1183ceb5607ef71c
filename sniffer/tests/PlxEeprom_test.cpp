// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer tests -- the PLX EEPROM reader against a bit-level model of
// a serial EEPROM behind the control byte, and through the driver service.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/testing/TestBus.h"
#include "sniffer/PlxEeprom.h"
#include "sniffer/SnifferUnit.h"
#include "driver/testing/SimBus.h"
#include "platform/testing/ParamName.h"

namespace {

// A register block whose control byte drives a Microwire EEPROM (93C46 with
// 6 address bits, 93C56 with 8), recording every access.
class EepromModel : public EepromRegisters {
public:
    struct Access {
        bool Write;
        uint32_t Offset;
        uint8_t Value;
    };
    EepromModel(uint8_t id, std::vector<uint16_t> words, int addressBits)
        : id_(id), words_(std::move(words)), addressBits_(addressBits) {}

    enum class DataLine { Model, AlwaysOne, AlwaysZero };
    DataLine Line = DataLine::Model;
    std::vector<Access> Log;
    std::vector<int> CommandBits;  // data-in at each rising edge before the data phase
    int SamplesWithClockHigh = 0;  // data-phase reads between clock up and clock down

    uint8_t ReadByte(uint32_t offset) override {
        uint8_t v = 0;
        if (offset == PlxIdOffset) v = id_;
        if (offset == EepromControlOffset) {
            v = control_ & 0xF7;
            const bool out = Line == DataLine::AlwaysOne || (Line == DataLine::Model && dataOut_);
            if (out) v |= 0x08;
            if (phase_ == Phase::Data && (control_ & 0x01)) ++SamplesWithClockHigh;
        }
        Log.push_back({false, offset, v});
        return v;
    }
    void WriteByte(uint32_t offset, uint8_t value) override {
        Log.push_back({true, offset, value});
        if (offset != EepromControlOffset) return;
        const bool rising = !(control_ & 0x01) && (value & 0x01);
        control_ = value;
        if (!(value & 0x02)) {
            phase_ = Phase::Idle;
            dataOut_ = true;
            bits_ = 0;
            return;
        }
        if (rising) Clock((value & 0x04) != 0);
    }

private:
    enum class Phase { Idle, Command, Data };
    void Clock(bool in) {
        if (phase_ == Phase::Idle) {
            CommandBits.push_back(in);
            if (!in) return;  // leading zeros before the start bit
            phase_ = Phase::Command;
            command_ = 0;
            bits_ = 0;
            return;
        }
        if (phase_ == Phase::Command) {
            CommandBits.push_back(in);
            command_ = (command_ << 1) | (in ? 1u : 0u);
            if (++bits_ == 2 + addressBits_) {
                const uint32_t opcode = command_ >> addressBits_;
                if (opcode != 2) {
                    phase_ = Phase::Idle;
                    return;
                }
                address_ = command_ & ((1u << addressBits_) - 1);
                phase_ = Phase::Data;
                dataOut_ = false;  // the dummy zero
                bit_ = 0;
            }
            return;
        }
        const uint32_t word = (address_ + bit_ / 16) & ((1u << addressBits_) - 1);
        const uint16_t value = word < words_.size() ? words_[word] : 0xFFFF;
        dataOut_ = (value >> (15 - bit_ % 16)) & 1;
        ++bit_;
    }

    uint8_t id_;
    std::vector<uint16_t> words_;
    int addressBits_;
    uint8_t control_ = 0;
    Phase phase_ = Phase::Idle;
    bool dataOut_ = true;
    uint32_t command_ = 0, address_ = 0, bit_ = 0;
    int bits_ = 0;
};

struct Chip {
    const char* Name;
    uint8_t Id;
    int AddressBits;
    int InstructionBits;
    int EvenAccesses;
    int OddAccesses;
    std::vector<int> Word4Instruction;
};

class PlxEepromChips : public testing::TestWithParam<Chip> {};

TEST_P(PlxEepromChips, EveryWordReadsBackWithTheExpectedAccessCount) {
    const Chip& chip = GetParam();
    const auto contents = simbus::PatternWords(1 << chip.AddressBits, chip.Id);
    EepromModel model(chip.Id, contents, chip.AddressBits);
    EXPECT_EQ(EepromAddressBits(model), chip.InstructionBits);
    for (uint32_t i = 0; i < 64; ++i) {
        model.Log.clear();
        model.SamplesWithClockHigh = 0;
        EXPECT_EQ(EepromReadWord(model, i), contents[i]) << "word " << i;
        EXPECT_EQ(model.SamplesWithClockHigh, i % 2 ? 32 : 16) << "word " << i;
        EXPECT_EQ(static_cast<int>(model.Log.size()), i % 2 ? chip.OddAccesses : chip.EvenAccesses) << "word " << i;
    }
}

TEST_P(PlxEepromChips, WordFourInstructionBits) {
    const Chip& chip = GetParam();
    EepromModel model(chip.Id, {}, chip.AddressBits);
    EepromSendCommand(model, 4, EepromReadInstruction);
    EXPECT_EQ(model.CommandBits, chip.Word4Instruction);
}

TEST_P(PlxEepromChips, DataLineStuckReadsAllOnesOrAllZeros) {
    const Chip& chip = GetParam();
    EepromModel ones(chip.Id, {}, chip.AddressBits);
    ones.Line = EepromModel::DataLine::AlwaysOne;
    EepromModel zeros(chip.Id, {}, chip.AddressBits);
    zeros.Line = EepromModel::DataLine::AlwaysZero;
    uint16_t high[64], low[64];
    ReadPlxEeprom(ones, 64, high);
    ReadPlxEeprom(zeros, 64, low);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(high[i], 0xFFFF) << i;
        EXPECT_EQ(low[i], 0) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Chips, PlxEepromChips,
                         testing::Values(Chip{"Plx9056", 0x56, 8, 11, 106, 170, {1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
                                         Chip{"Plx9080", 0x80, 6, 9, 100, 164, {1, 1, 0, 0, 0, 0, 1, 0, 0}}),
                         platform::testing::ParamName());

TEST(PlxEeprom, OddWordIsAddressedThroughTheEvenOne) {
    EepromModel model(0x56, simbus::PatternWords(256, 7), 8);
    model.CommandBits.clear();
    EXPECT_EQ(EepromReadWord(model, 5), simbus::PatternWords(256, 7)[5]);
    // 1 1 0 then address 4 in eight bits.
    EXPECT_EQ(model.CommandBits, (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(EepromReadWord(model, 63), simbus::PatternWords(256, 7)[63]);
    // Only the low eight bits of the index count.
    EXPECT_EQ(EepromReadWord(model, 0x105), simbus::PatternWords(256, 7)[5]);
}

TEST(PlxEeprom, WritesKeepOnlyTheBitsTheProtocolNames) {
    EepromModel model(0x56, {0x1234}, 8);
    EepromReadWord(model, 0);
    ASSERT_FALSE(model.Log.empty());
    int plain0x82 = 0;
    for (const auto& a : model.Log) {
        if (!a.Write) continue;
        EXPECT_EQ(a.Offset, EepromControlOffset);
        // Bit 3 comes back from a read-modify-write; it is read-only.
        EXPECT_EQ(a.Value & ~0x8F, 0) << "a write sets a bit the reader does not drive";
        if (a.Value == 0x82) ++plain0x82;
    }
    EXPECT_GE(plain0x82, 1);
    // The reader ends with chip select, clock and data down.
    EXPECT_EQ(model.Log.back().Write, true);
    EXPECT_EQ(model.Log.back().Value & 0x07, 0);
}

// Through the service: every register access is one WD_Transfer request.
class PlxEepromService : public testing::Test {
protected:
    DriverContext context{};
    void Open(TestBus& bus, const simbus::SimFunction& f) {
        bus.Use();
        context.Handle = OpenDriver();
        ASSERT_NE(context.Handle, NoDriverHandle);
        CardInfoRecord info{};
        info.Bus = f.Bus;
        info.Slot = f.Slot;
        info.Function = f.Function;
        DriverRequest(WD_PciGetCardInfo, context.Handle, &info, sizeof info);
        context.Bus = info.Bus;
        context.Slot = info.Slot;
        context.Function = info.Function;
        context.Registration.Card = info.Card;
    }
    void TearDown() override {
        ReleaseCard(context);
        CloseDriver(context.Handle);
    }
};
struct ServiceChip {
    const char* Name;
    uint16_t Device;
    int Even, Odd;
};
class PlxEepromServiceChips : public PlxEepromService, public testing::WithParamInterface<ServiceChip> {};

TEST_P(PlxEepromServiceChips, WordsAndRequestCounts) {
    const auto words = simbus::PatternWords(64, static_cast<uint16_t>(GetParam().Device));
    const auto f = simbus::PlxBoard(1, 2, GetParam().Device, words);
    TestBus bus(simbus::BusJson({f}));
    Open(bus, f);
    ASSERT_TRUE(P9080_CardIsUsable(context));
    ASSERT_TRUE(IsSpaceActive(context, 1));
    int before = bus.CountRequests(WD_Transfer);
    EXPECT_EQ(EepromReadWord(context, 4), words[4]);
    EXPECT_EQ(bus.CountRequests(WD_Transfer) - before, GetParam().Even);
    before = bus.CountRequests(WD_Transfer);
    EXPECT_EQ(EepromReadWord(context, 5), words[5]);
    EXPECT_EQ(bus.CountRequests(WD_Transfer) - before, GetParam().Odd);
    uint16_t all[64];
    ReadPlxEeprom(context, 64, all);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(all[i], words[i]) << "word " << i;
}

INSTANTIATE_TEST_SUITE_P(Chips, PlxEepromServiceChips,
                         testing::Values(ServiceChip{"Plx9056", 0x9056, 106, 170}, ServiceChip{"Plx9080", 0x9080, 100, 164}),
                         platform::testing::ParamName());

TEST_F(PlxEepromService, NoEepromPartReadsAllOnes) {
    const auto f = simbus::PlxBoard(0, 3, 0x9056, {});
    TestBus bus(simbus::BusJson({f}));
    Open(bus, f);
    ASSERT_TRUE(P9080_CardIsUsable(context));
    uint16_t words[64];
    ReadPlxEeprom(context, 64, words);
    for (uint16_t w : words) EXPECT_EQ(w, 0xFFFF);
}

TEST_F(PlxEepromService, NoRegisterSpaceReadsZerosWithoutARequest) {
    // BAR 1 holds nothing that matches the I/O item: space 1 stays inactive.
    auto f = simbus::PlxBoard(0, 3, 0x9056, simbus::PatternWords(64, 3));
    f.Dword(0x14, 0xD001);
    TestBus bus(simbus::BusJson({f}));
    Open(bus, f);
    ASSERT_TRUE(P9080_CardIsUsable(context));
    ASSERT_FALSE(IsSpaceActive(context, 1));
    uint16_t words[64];
    std::memset(words, 0xAB, sizeof words);
    ReadPlxEeprom(context, 64, words);
    for (uint16_t w : words) EXPECT_EQ(w, 0);
    EXPECT_EQ(bus.CountRequests(WD_Transfer), 0);
}

}  // namespace
