// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver records -- the requests the program sends the driver and
// their byte-exact records: the interface of the WinDriver kernel driver,
// which quorrin-driverd speaks too. Neither the client nor the service owns it.
//
// Records are little-endian with the layout of a 32-bit client: a pointer
// field holds a 32-bit address (see ClientAddress). They are zero-filled
// before the sender sets its fields; the driver answers in the same record
// and returns a 32-bit status word, 0 for success.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);

// Request codes: device type 0x9538, METHOD_NEITHER, FILE_ANY_ACCESS.
constexpr uint32_t RequestCode(uint32_t function) { return (0x9538u << 16) | (function << 2) | 3u; }

constexpr uint32_t WD_Version = RequestCode(0xD10);
constexpr uint32_t WD_PciScanCards = RequestCode(0xDA3);
constexpr uint32_t WD_PciGetCardInfo = RequestCode(0xD0F);
constexpr uint32_t WD_CardRegister = RequestCode(0xDAB);
constexpr uint32_t WD_CardUnregister = RequestCode(0xD2B);
constexpr uint32_t WD_PciConfigDump = RequestCode(0xD1A);
constexpr uint32_t WD_Transfer = RequestCode(0xD8C);

static_assert(WD_Version == 0x95383443u);
static_assert(WD_PciScanCards == 0x9538368Fu);
static_assert(WD_PciGetCardInfo == 0x9538343Fu);
static_assert(WD_CardRegister == 0x953836AFu);
static_assert(WD_CardUnregister == 0x953834AFu);
static_assert(WD_PciConfigDump == 0x9538346Bu);
static_assert(WD_Transfer == 0x95383633u);

constexpr int MaxScanCards = 100;
constexpr int MaxResourceItems = 20;

enum ResourceType : uint32_t { ItemInterrupt = 1, ItemMemory = 2, ItemIO = 3 };

struct VersionRecord {
    uint32_t Version;  // major = Version / 100, minor = Version % 100
    char Text[128];
};

struct PciScanRecord {
    uint32_t SearchVendorId;
    uint32_t SearchDeviceId;
    uint32_t CardCount;
    struct {
        uint32_t VendorId;
        uint32_t DeviceId;
    } Ids[MaxScanCards];
    struct {
        uint32_t Bus;
        uint32_t Slot;
        uint32_t Function;
    } Locations[MaxScanCards];
    uint32_t Options;
};

struct ResourceItem {
    uint32_t Type;          // ResourceType; other values are ignored
    uint32_t DriverOwn[3];
    union {
        struct {
            uint32_t PhysicalAddress;
            uint32_t Bytes;
            alignas(8) uint64_t TransferAddress;  // filled by registration
            alignas(8) uint64_t DirectAddress;    // filled by registration
            uint32_t DriverOwn;
            uint32_t Bar;
        } Mem;
        struct {
            alignas(8) uint64_t Address;
            uint32_t Bytes;
            uint32_t Bar;
            uint8_t DriverOwn[16];
        } IO;
        struct {
            uint32_t Number;
            uint32_t DriverOwn;
            uint32_t Handle;  // filled by registration
            uint8_t DriverOwn2[20];
        } Int;
    };
};

struct CardResourceBlock {
    uint32_t NumItems;
    uint32_t Alignment;
    ResourceItem Items[MaxResourceItems];
};

struct CardInfoRecord {
    uint32_t Bus;
    uint32_t Slot;
    uint32_t Function;
    uint32_t Alignment;
    CardResourceBlock Card;
};

struct CardRegisterRecord {
    CardResourceBlock Card;
    uint32_t LockCheckOnly;
    uint32_t CardHandle;
    uint32_t Options;
    char Name[32];
    char Description[100];
};

struct ConfigAccessRecord {
    uint32_t Bus;
    uint32_t Slot;
    uint32_t Function;
    uint32_t Buffer;     // ClientAddress of the caller's result word
    uint32_t Offset;
    uint32_t Bytes;      // 1 to 4; may come back changed
    uint32_t Direction;  // 1 = read; configuration space is never written
    uint32_t Result;
};

struct TransferRecord {
    alignas(8) uint64_t Address;
    uint32_t Command;
    uint32_t Bytes;
    uint32_t AutoIncrement;
    uint32_t Options;
    alignas(8) uint64_t Data;  // ClientAddress of the caller's buffer in the low half
};

// Transfer commands by unit (0 byte, 1 word, 2 double-word).
enum TransferCommand : uint32_t {
    ReadPortByte = 20, ReadPortWord = 21, ReadPortDword = 22,
    WritePortByte = 23, WritePortWord = 24, WritePortDword = 25,
    ReadMemByte = 40, ReadMemWord = 41, ReadMemDword = 42,
    WriteMemByte = 43, WriteMemWord = 44, WriteMemDword = 45,
};
constexpr uint32_t ConfigDirectionRead = 1;

#define QUORRIN_FIELD(record, field, offset) static_assert(offsetof(record, field) == (offset))
static_assert(sizeof(VersionRecord) == 132);
QUORRIN_FIELD(VersionRecord, Text, 4);
static_assert(sizeof(PciScanRecord) == 2016);
QUORRIN_FIELD(PciScanRecord, CardCount, 8);
QUORRIN_FIELD(PciScanRecord, Ids, 12);
QUORRIN_FIELD(PciScanRecord, Locations, 812);
QUORRIN_FIELD(PciScanRecord, Options, 2012);
static_assert(sizeof(ResourceItem) == 48);
QUORRIN_FIELD(ResourceItem, Mem.PhysicalAddress, 16);
QUORRIN_FIELD(ResourceItem, Mem.Bytes, 20);
QUORRIN_FIELD(ResourceItem, Mem.TransferAddress, 24);
QUORRIN_FIELD(ResourceItem, Mem.DirectAddress, 32);
QUORRIN_FIELD(ResourceItem, Mem.Bar, 44);
QUORRIN_FIELD(ResourceItem, IO.Address, 16);
QUORRIN_FIELD(ResourceItem, IO.Bytes, 24);
QUORRIN_FIELD(ResourceItem, IO.Bar, 28);
QUORRIN_FIELD(ResourceItem, Int.Number, 16);
QUORRIN_FIELD(ResourceItem, Int.Handle, 24);
static_assert(sizeof(CardResourceBlock) == 968);
QUORRIN_FIELD(CardResourceBlock, Items, 8);
static_assert(sizeof(CardInfoRecord) == 984);
QUORRIN_FIELD(CardInfoRecord, Card, 16);
static_assert(sizeof(CardRegisterRecord) == 1112);
QUORRIN_FIELD(CardRegisterRecord, LockCheckOnly, 968);
QUORRIN_FIELD(CardRegisterRecord, CardHandle, 972);
QUORRIN_FIELD(CardRegisterRecord, Options, 976);
QUORRIN_FIELD(CardRegisterRecord, Name, 980);
QUORRIN_FIELD(CardRegisterRecord, Description, 1012);
static_assert(sizeof(ConfigAccessRecord) == 32);
QUORRIN_FIELD(ConfigAccessRecord, Buffer, 12);
QUORRIN_FIELD(ConfigAccessRecord, Offset, 16);
QUORRIN_FIELD(ConfigAccessRecord, Bytes, 20);
QUORRIN_FIELD(ConfigAccessRecord, Direction, 24);
QUORRIN_FIELD(ConfigAccessRecord, Result, 28);
static_assert(sizeof(TransferRecord) == 32);
QUORRIN_FIELD(TransferRecord, Command, 8);
QUORRIN_FIELD(TransferRecord, Bytes, 12);
QUORRIN_FIELD(TransferRecord, AutoIncrement, 16);
QUORRIN_FIELD(TransferRecord, Options, 20);
QUORRIN_FIELD(TransferRecord, Data, 24);
#undef QUORRIN_FIELD
