// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver tests -- the card-usable check, configuration reads and
// address-space access against simulated cards in a private driver service.
#include "windriver/WexPlxGenDriverUnit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "driver/testing/TestBus.h"
#include "driver/testing/SimBus.h"
#include "platform/testing/ParamName.h"
#include "wire/DriverWire.h"

namespace {

using simbus::SimFunction;

// One card in a private service, with the context the scan would set up
// for it (driver open, card information copied in).
class CardFixture {
public:
    explicit CardFixture(const SimFunction& f, std::vector<SimFunction> others = {})
        : bus_(Bus(f, std::move(others))) {
        bus_.Use();
        context.Handle = OpenDriver();
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
    ~CardFixture() {
        ReleaseCard(context);
        CloseDriver(context.Handle);
    }
    int Count(uint32_t code) const { return bus_.CountRequests(code); }
    TestBus& Service() { return bus_; }
    DriverContext context{};

private:
    static std::string Bus(const SimFunction& f, std::vector<SimFunction> others) {
        others.insert(others.begin(), f);
        return simbus::BusJson(others);
    }
    TestBus bus_;
};

int ActiveSpaces(const DriverContext& c) {
    int n = 0;
    for (uint32_t j = 0; j < AddressSpaceCount; ++j) n += IsSpaceActive(c, j);
    return n;
}

// Which item backs each space, -1 for an inactive one.
std::vector<int> SpaceItems(const DriverContext& c) {
    std::vector<int> items;
    for (uint32_t j = 0; j < AddressSpaceCount; ++j)
        items.push_back(IsSpaceActive(c, j) ? static_cast<int>(c.Spaces[j].ItemIndex) : -1);
    return items;
}

struct MatchCase {
    const char* Name;
    SimFunction Card;
    bool Usable;
    int32_t Code;
    std::vector<int> Items;  // per space
};

class CardMatching : public testing::TestWithParam<MatchCase> {};

TEST_P(CardMatching, SpacesAndOutcome) {
    const MatchCase& m = GetParam();
    CardFixture card(m.Card);
    ASSERT_NE(card.context.Handle, NoDriverHandle);
    EXPECT_EQ(P9080_CardIsUsable(card.context), m.Usable);
    EXPECT_EQ(LastErrorCode, m.Code);
    EXPECT_EQ(SpaceItems(card.context), m.Items);
    ReleaseCard(card.context);
    EXPECT_EQ(card.Count(WD_CardRegister), 1);
    EXPECT_EQ(card.Count(WD_CardUnregister), 1);
}

const std::vector<int> None = {-1, -1, -1, -1, -1, -1, -1};

INSTANTIATE_TEST_SUITE_P(
    Cases, CardMatching,
    testing::Values(
        MatchCase{"NoItemsPasses", SimFunction(0, 1, 0).Ids(0x8086, 0x1237), true, 0, None},
        MatchCase{"UnmatchedIoOnlyPasses",
                  SimFunction(0, 1, 0).Ids(0x8086, 0x7010).Io(4, 0xC000, 0x10, false).Interrupt(14), true, 0,
                  None},
        MatchCase{
            "MemoryIgnoresLowFourBits",
            SimFunction(0, 2, 0).Ids(0x10EC, 0x8139).Memory(0, 0xF0000000, 0x100).Dword(0x10, 0xF000000C),
            true,
            0,
            {0, -1, -1, -1, -1, -1, -1}},
        MatchCase{"IoIgnoresLowTwoBits",
                  SimFunction(0, 2, 0).Ids(0x10EC, 0x8139).Io(1, 0xE000, 0x100).Dword(0x14, 0xE001),
                  true,
                  0,
                  {-1, 0, -1, -1, -1, -1, -1}},
        MatchCase{"ExpansionRomWithBitZeroIsAnIoRegisterTriedLast",
                  SimFunction(0, 3, 0).Ids(0x1000, 0x0001).Io(6, 0xD000, 0x10).Dword(0x30, 0xD001),
                  true,
                  0,
                  {-1, -1, -1, -1, -1, -1, 0}},
        MatchCase{"LowerSpaceWinsAndATakenSpaceIsSkipped",
                  SimFunction(0, 4, 0)
                      .Ids(0x1000, 0x0002)
                      .Memory(0, 0xF1000000, 0x1000, false)
                      .Memory(3, 0xF1000000, 0x1000, false)
                      .Dword(0x14, 0xF1000000)
                      .Dword(0x1C, 0xF1000008),
                  true,
                  0,
                  {-1, 0, -1, 1, -1, -1, -1}},
        MatchCase{"MemoryMatchingNothingIsCodeSeven",
                  SimFunction(0, 5, 0).Ids(0x1000, 0x0003).Memory(0, 0xF2000000, 0x1000, false), false, 7,
                  None},
        // Code 7 needs every space inactive: a matched I/O item is enough.
        MatchCase{
            "UnmatchedMemoryPassesBesideAMatchedIoSpace",
            SimFunction(0, 5, 0).Ids(0x1000, 0x0003).Memory(0, 0xF2000000, 0x1000, false).Io(1, 0xE000, 0x10),
            true,
            0,
            {-1, 1, -1, -1, -1, -1, -1}},
        MatchCase{
            "SecondInterruptIsCodeSixAndEndsTheWalk",
            SimFunction(0, 6, 0).Ids(0x1000, 0x0004).Interrupt(5).Interrupt(9).Memory(0, 0xF3000000, 0x1000),
            false, 6, None},
        // A BAR at 0x40_0000_0000 reads 0x00000004, 0x00000040: its 32-bit
        // physical field (0) matches the low register, as on a virtio card.
        MatchCase{"SixtyFourBitRegisterAbove4GiBMatchesItsLowHalf",
                  SimFunction(0, 7, 0).Ids(0x1AF4, 0x1045).Memory64(0, 0x4000000000ull, 0x80000),
                  true,
                  0,
                  {0, -1, -1, -1, -1, -1, -1}},
        MatchCase{"ThirtyTwoBitRegisterBesideSixtyFourBitOnes",
                  SimFunction(0, 7, 0)
                      .Ids(0x1AF4, 0x1041)
                      .Memory64(0, 0x4000000000ull, 0x4000)
                      .Memory(2, 0xFEB00000, 0x1000)
                      .Memory64(4, 0x4000080000ull, 0x4000),
                  true,
                  0,
                  {0, -1, 1, -1, 2, -1, -1}},
        MatchCase{"UnimplementedRegisterMatchesNothing",
                  SimFunction(0, 7, 0).Ids(0x1AF4, 0x1045).Memory(0, 0x0, 0x1000, false), false, 7, None},
        MatchCase{"SixtyFourBitRegisterBelow4GiBMatches",
                  SimFunction(0, 8, 0)
                      .Ids(0x1AF4, 0x1045)
                      .Memory(2, 0xFE000000, 0x4000, false)
                      .Dword(0x18, 0xFE00000C),
                  true,
                  0,
                  {-1, -1, 0, -1, -1, -1, -1}}),
    platform::testing::ParamName());

TEST(CardCheck, FailureTextsFollowTheCode) {
    CardFixture card(SimFunction(0, 5, 0).Ids(0x1000, 3).Memory(0, 0xF2000000, 0x1000, false));
    EXPECT_FALSE(P9080_CardIsUsable(card.context));
    EXPECT_STREQ(LastErrorText, "P9080_CardIsUsable->Card does not have all items (Addr Space) expected for the card\n");
    CardFixture twice(SimFunction(0, 6, 0).Ids(0x1000, 4).Interrupt(5).Interrupt(9));
    EXPECT_FALSE(P9080_CardIsUsable(twice.context));
    EXPECT_STREQ(LastErrorText, "P9080_CardIsUsable->Card does not have all items (Interrupt) expected for the card\n");
    EXPECT_NE(twice.context.InterruptHandle, 0u);
}

TEST(CardCheck, SecondInterruptStopsBeforeLaterItemsAreRead) {
    CardFixture card(SimFunction(0, 6, 0).Ids(0x1000, 4).Interrupt(5).Interrupt(9).Memory(0, 0xF3000000, 0x1000));
    const int before = card.Count(WD_PciConfigDump);
    EXPECT_FALSE(P9080_CardIsUsable(card.context));
    EXPECT_EQ(card.Count(WD_PciConfigDump), before);
}

struct RefusedCase {
    const char* Name;
    const char* Fault;
    int32_t Code;
    const char* Text;
};
class CardRefused : public testing::TestWithParam<RefusedCase> {};

// A refused registration leaves no earlier card's spaces behind, and sends
// no unregister.
TEST_P(CardRefused, ClearsTheSpacesAndSendsNoUnregister) {
    CardFixture card(SimFunction(0, 9, 0).Ids(0x10B5, 0x9056).Io(1, 0xE000, 0x100).Fault(GetParam().Fault));
    card.context.Spaces[1] = {0, 0, 1};
    card.context.InterruptHandle = 77;
    EXPECT_FALSE(P9080_CardIsUsable(card.context));
    EXPECT_EQ(LastErrorCode, GetParam().Code);
    EXPECT_STREQ(LastErrorText, GetParam().Text);
    EXPECT_EQ(ActiveSpaces(card.context), 0);
    EXPECT_EQ(card.context.InterruptHandle, 0u);
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x72), 0);
    WriteSpaceByte(card.context, 1, 0x6F, 0x02);
    ReleaseCard(card.context);
    EXPECT_EQ(card.Count(WD_Transfer), 0);
    EXPECT_EQ(card.Count(WD_CardUnregister), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CardRefused,
    testing::Values(RefusedCase{"Refused", "register-refused", 9, "P9080_CardIsUsable->Failed Card Register.\n"},
                    RefusedCase{"NoHandle", "register-no-handle", 5, "P9080_CardIsUsable->Failed locking device.\n"}),
    platform::testing::ParamName());

TEST(CardCheck, ItemCountPastTheBlockIsNotFollowed) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x8086, 0x1237));
    // Every item an I/O item matching nothing: the walk reads config for each.
    for (auto& item : card.context.Registration.Card.Items) {
        item.Type = ItemIO;
        item.IO.Address = 0x1234;
    }
    card.context.Registration.Card.NumItems = 5000;
    int32_t code = -1;
    EXPECT_TRUE(DetectAddressSpaces(card.context, code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(card.Count(WD_PciConfigDump), MaxResourceItems * AddressSpaceCount);
}

TEST(CardCheck, IoPortAbove32BitsNeverMatches) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x8086, 0x1237).Dword(0x10, 0xE001));
    card.context.Registration.Card.NumItems = 1;
    card.context.Registration.Card.Items[0].Type = ItemIO;
    card.context.Registration.Card.Items[0].IO.Address = 0x1000000000E000ull;
    int32_t code = -1;
    EXPECT_TRUE(DetectAddressSpaces(card.context, code));
    EXPECT_EQ(ActiveSpaces(card.context), 0);
    card.context.Registration.Card.Items[0].IO.Address = 0xE000;
    EXPECT_TRUE(DetectAddressSpaces(card.context, code));
    EXPECT_TRUE(IsSpaceActive(card.context, 0));
}

TEST(ConfigRead, WidthsFollowTheRegisterTable) {
    CardFixture card(SimFunction(0, 1, 0)
                         .Ids(0x10B5, 0x9056)
                         .Dword(0x08, 0x0680000B)
                         .Dword(0x2C, 0x905610B5)
                         .Dword(0x3C, 0x4030010B));
    struct {
        uint32_t Offset, Value;
    } cases[] = {{0x00, 0x905610B5}, {0x02, 0x9056}, {0x01, 0x10B5}, {0x08, 0x0B}, {0x09, 0x068000},
                 {0x2C, 0x905610B5}, {0x2E, 0x9056}, {0x3C, 0x0B},   {0x3D, 0x01}, {0x3E, 0x30},
                 {0x3F, 0x40},       {0x40, 0x10B5}};
    for (const auto& c : cases) EXPECT_EQ(ReadConfigRegister(card.context, c.Offset), c.Value) << std::hex << c.Offset;
    EXPECT_EQ(ReadConfigDword(card.context, 11), 0x905610B5u);
    EXPECT_EQ(ReadConfigDword(card.context, 15), 0x4030010Bu);
}

TEST(ConfigRead, RefusedReadIsZero) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x10B5, 0x9056).Fault("config-refused"));
    EXPECT_EQ(ReadConfigDword(card.context, 0), 0u);
    EXPECT_EQ(ReadConfigRegister(card.context, 0x02), 0u);
    // Past the end of the space is refused too.
    CardFixture other(SimFunction(0, 2, 0).Ids(0x8086, 0x100E));
    EXPECT_EQ(ReadConfigDword(other.context, 64), 0u);
}

TEST(SpaceAccess, InactiveSpaceSendsNothing) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x8086, 0x100E).Io(1, 0xE000, 0x40));
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(TransferBlock(card.context, 1, 0, true, buffer, 4, 2), 0u);
    EXPECT_EQ(TransferBlock(card.context, 7, 0, true, buffer, 4, 2), 0u);
    EXPECT_EQ(ReadSpaceByte(card.context, 3, 0), 0);
    EXPECT_EQ(card.Count(WD_Transfer), 0);
    EXPECT_EQ(buffer[0], 1);
}

TEST(SpaceAccess, IoBytesGoThroughTransfers) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x10B5, 0x9056).Io(1, 0xE000, 0x100));
    ASSERT_TRUE(P9080_CardIsUsable(card.context));
    WriteSpaceByte(card.context, 1, 0x6F, 0x06);            // the EEPROM control byte: chip select, data
    WriteSpaceByte(card.context, 1, 0x10, 0x5A);            // no other register is written
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x6F), 0x0E);  // with the data line of the absent part
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x10), 0);
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x72), 0x56);
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x73), 0x90);
    uint8_t id[2] = {};
    EXPECT_EQ(TransferBlock(card.context, 1, 0x72, true, id, 2, 1), wire::StatusDenied) << "one byte per transfer";
    EXPECT_EQ(id[0], 0);
    EXPECT_EQ(card.Count(WD_Transfer), 7);
    // Past the end of the resource the service refuses, and the byte reads 0.
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x100), 0);
    ReleaseCard(card.context);
    EXPECT_EQ(ReadSpaceByte(card.context, 1, 0x6F), 0);
}

// Without a direct address (the Linux service gives none) memory bytes are
// transfers with the memory commands, checked by the service one by one.
TEST(SpaceAccess, MemoryBytesWithoutADirectAddressGoThroughTransfers) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x10B5, 0x9080).Memory(0, 0xF0000000, 0x200));
    ASSERT_TRUE(P9080_CardIsUsable(card.context));
    ASSERT_TRUE(IsSpaceActive(card.context, 0));
    ASSERT_EQ(card.context.Registration.Card.Items[0].Mem.DirectAddress, 0u);
    WriteSpaceByte(card.context, 0, 0x6F, 0x02);
    WriteSpaceByte(card.context, 0, 0x1FF, 0xC3);
    EXPECT_EQ(ReadSpaceByte(card.context, 0, 0x6F), 0x0A);  // chip select, and the absent part's data line
    EXPECT_EQ(ReadSpaceByte(card.context, 0, 0x1FF), 0);
    EXPECT_EQ(ReadSpaceByte(card.context, 0, 0x200), 0);  // past the end
    const auto trace = card.Service().Trace();
    const std::vector<std::string> last(trace.end() - 5, trace.end());
    EXPECT_EQ(last, (std::vector<std::string>{"95383633 00000000", "95383633 20000008", "95383633 00000000",
                                              "95383633 20000008", "95383633 20000005"}));
    ReleaseCard(card.context);
    card.context.Spaces[0] = {0, 1, 1};  // a stale table still reaches nothing
    EXPECT_EQ(ReadSpaceByte(card.context, 0, 0x6F), 0);
    card.context.Spaces[0] = {};
}

TEST(CardCheck, ACheckReleasesTheCardBeforeRegisteringAgain) {
    CardFixture card(SimFunction(0, 1, 0).Ids(0x8086, 0x100E).Io(1, 0xE000, 0x40));
    EXPECT_TRUE(P9080_CardIsUsable(card.context));
    EXPECT_TRUE(card.context.Registered);
    EXPECT_TRUE(P9080_CardIsUsable(card.context));
    ReleaseCard(card.context);
    ReleaseCard(card.context);
    const auto trace = card.Service().Trace();
    EXPECT_EQ(card.Count(WD_CardRegister), 2);
    EXPECT_EQ(card.Count(WD_CardUnregister), 2);
    for (const auto& line : trace) EXPECT_EQ(line.substr(9), "00000000") << line;
}

}  // namespace

namespace {

// This machine's bus: a function that decodes memory (command bit 1) and has
// memory BARs assigned passes the check wherever they lie; a virtual
// machine's virtio functions sit at 0x40_0000_0000.
TEST(CardCheck, RealFunctionsDecodingMemoryAreNotCodeSeven) {
    if (!std::filesystem::is_directory("/sys/bus/pci/devices"))
        GTEST_SKIP() << "no /sys/bus/pci on this machine";
    TestBus bus = TestBus::Real();
    bus.Use();
    DriverContext context{};
    context.Handle = OpenDriver();
    ASSERT_NE(context.Handle, NoDriverHandle);
    PciScanRecord scan{};
    ASSERT_EQ(DriverRequest(WD_PciScanCards, context.Handle, &scan, sizeof scan), 0u);
    int checked = 0;
    for (uint32_t n = 0; n < scan.CardCount && n < MaxScanCards; ++n) {
        CardInfoRecord info{};
        info.Bus = context.Bus = scan.Locations[n].Bus;
        info.Slot = context.Slot = scan.Locations[n].Slot;
        info.Function = context.Function = scan.Locations[n].Function;
        ASSERT_EQ(DriverRequest(WD_PciGetCardInfo, context.Handle, &info, sizeof info), 0u);
        context.Registration.Card = info.Card;
        bool memory = false;
        for (uint32_t i = 0; i < info.Card.NumItems; ++i)
            memory = memory || info.Card.Items[i].Type == ItemMemory;
        const bool decodes = (ReadConfigRegister(context, 0x04) & 0x2) != 0;
        P9080_CardIsUsable(context);
        const int32_t code = TakeLastError();
        ReleaseCard(context);
        if (!memory || !decodes) continue;
        ++checked;
        EXPECT_NE(code, 7) << std::hex << info.Bus << ":" << info.Slot << "." << info.Function;
    }
    CloseDriver(context.Handle);
    SetDriverDevice(DefaultDriverDevice);
    if (checked == 0) std::printf("note: no function on this machine decodes memory through a BAR\n");
}

}  // namespace
