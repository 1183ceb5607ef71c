// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- a serial (Microwire) EEPROM modelled bit by bit,
// as it sits behind a PLX bridge's EEPROM control lines.
#pragma once

#include <cstdint>
#include <vector>

namespace driverd {

class SerialEeprom {
public:
    // addressBits: 8 for the part on a 9056, 6 on a 9080. words: contents
    // from word 0; words past them read 0xFFFF. present false: no part on the
    // lines, the data line reads 1.
    SerialEeprom(unsigned addressBits, std::vector<uint16_t> words, bool present);

    // The lines as the bridge drives them; the part acts on a rising clock
    // edge while selected and forgets everything when deselected.
    void Drive(bool chipSelect, bool clock, bool dataIn);
    // The data line from the part: 1 while it drives nothing.
    bool DataOut() const { return dataOut_; }

private:
    enum class State { Idle, Opcode, Address, Reading, Ignoring };
    void RisingEdge(bool dataIn);
    uint16_t Word(unsigned index) const;

    unsigned addressBits_;
    std::vector<uint16_t> words_;
    bool present_;
    bool selected_ = false;
    bool clock_ = false;
    bool dataOut_ = true;
    State state_ = State::Idle;
    unsigned count_ = 0;     // bits taken in the current state
    unsigned opcode_ = 0;
    unsigned address_ = 0;   // word being streamed
    unsigned bit_ = 0;       // next data bit, 15 down to 0
};

}  // namespace driverd
