// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI facts -- the PLX 9056 and 9080 bridges: their IDs, the
// registers the program touches and the serial EEPROM behind them. The
// sniff and the driver service both read them from here.
#pragma once

#include <cstdint>

namespace plx {

constexpr uint16_t VendorId = 0x10B5;
constexpr uint16_t Device9056 = 0x9056;
constexpr uint16_t Device9080 = 0x9080;

constexpr bool IsBridge(uint32_t vendorId, uint32_t deviceId) {
    return vendorId == VendorId && (deviceId == Device9056 || deviceId == Device9080);
}

// The local configuration registers, mapped by BAR 0 (memory) and BAR 1 (I/O).
constexpr uint32_t RegistersMemoryBar = 0;
constexpr uint32_t RegistersIoBar = 1;

constexpr uint32_t CntrlOffset = 0x6C;          // CNTRL, four bytes
constexpr uint32_t EepromControlOffset = 0x6F;  // its top byte: the EEPROM lines
constexpr uint32_t IdOffset = 0x70;             // PCIIDR: device << 16 | vendor
constexpr uint32_t IdDeviceLowOffset = 0x72;    // the low byte of the device ID
constexpr uint8_t IdDeviceLow9056 = 0x56;

// The bits of the EEPROM control byte.
constexpr uint8_t EepromClock = 0x01;
constexpr uint8_t EepromChipSelect = 0x02;
constexpr uint8_t EepromDataToPart = 0x04;
constexpr uint8_t EepromDataFromPart = 0x08;    // read-only
constexpr uint8_t EepromPresent = 0x10;         // read-only
constexpr uint8_t ReloadConfiguration = 0x20;   // reloads the setup from the EEPROM
constexpr uint8_t SoftwareReset = 0x40;         // resets the local bus
constexpr uint8_t EepromOutputEnable = 0x80;    // EEDO input enable on the 9056

// The serial parts: a 93CS56-class part of 256 words on the 9056, a
// 93CS46 of 64 words on the 9080. An instruction is a start bit, two
// opcode bits and the address.
constexpr unsigned EepromAddressBits9056 = 8;
constexpr unsigned EepromAddressBits9080 = 6;
constexpr unsigned EepromWords9056 = 1u << EepromAddressBits9056;
constexpr unsigned EepromWords9080 = 1u << EepromAddressBits9080;
constexpr unsigned EepromAddressBits(uint32_t deviceId) {
    return deviceId == Device9056 ? EepromAddressBits9056 : EepromAddressBits9080;
}
constexpr uint16_t EepromReadInstruction = 0xC000;  // start bit and opcode 10, left-aligned

}  // namespace plx
