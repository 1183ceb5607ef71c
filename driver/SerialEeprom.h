// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- a serial (Microwire) EEPROM modelled bit by bit,
// as it sits behind a PLX bridge's EEPROM control lines.
//
// The part is a 93CS46 (6 address bits, on a 9080) or a 93CS56 (8, on a
// 9056), 16-bit words, its protect pin tied low. An instruction is a start
// bit, two opcode bits and the address, taken on rising clock edges while
// chip select is high:
//   READ  10 A           data follows at once, streaming on into the next word
//   WRITE 01 A + 16 bits ERASE 11 A
//   EWEN  00 11xx..      EWDS 00 00xx..  ERAL 00 10xx..  WRAL 00 01xx.. + 16 bits
// Writes and erases take effect when chip select falls after the last bit,
// and only while the write-enable latch is set (EWEN); the latch is clear at
// power-up, here when the bus is loaded.
#pragma once

#include <cstdint>
#include <vector>

namespace driverd {

class SerialEeprom {
public:
    // addressBits: 8 for the part on a 9056, 6 on a 9080. words: contents
    // from word 0; words past them hold 0xFFFF (erased). present false: no
    // part on the lines, the data line reads 1.
    SerialEeprom(unsigned addressBits, std::vector<uint16_t> words, bool present);

    // The lines as the bridge drives them; the part acts on a rising clock
    // edge while selected and on chip select falling.
    void Drive(bool chipSelect, bool clock, bool dataIn);
    // The data line from the part: 1 while it drives nothing.
    bool DataOut() const { return dataOut_; }
    // What the part holds now.
    const std::vector<uint16_t>& Words() const { return words_; }

private:
    enum class State { Idle, Opcode, Address, Reading, Data, Complete };
    void RisingEdge(bool dataIn);
    void AddressTaken();
    void Deselected();

    unsigned addressBits_;
    std::vector<uint16_t> words_;
    bool present_;
    bool selected_ = false;
    bool clock_ = false;
    bool dataOut_ = true;
    bool writeEnabled_ = false;
    State state_ = State::Idle;
    unsigned count_ = 0;     // bits taken in the current state
    unsigned opcode_ = 0;
    unsigned address_ = 0;   // the instruction's address; the word being streamed
    unsigned bit_ = 0;       // next data bit out, 15 down to 0
    uint16_t data_ = 0;      // the word a WRITE or WRAL brings
};

}  // namespace driverd
