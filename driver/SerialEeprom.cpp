// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the serial EEPROM model.
#include "driver/SerialEeprom.h"

#include <utility>

namespace driverd {

SerialEeprom::SerialEeprom(unsigned addressBits, std::vector<uint16_t> words, bool present)
    : addressBits_(addressBits), words_(std::move(words)), present_(present) {}

uint16_t SerialEeprom::Word(unsigned index) const {
    return index < words_.size() ? words_[index] : 0xFFFF;
}

void SerialEeprom::Drive(bool chipSelect, bool clock, bool dataIn) {
    if (!present_) return;
    if (!chipSelect) {
        selected_ = false;
        clock_ = clock;
        state_ = State::Idle;
        dataOut_ = true;
        return;
    }
    if (!selected_) {
        selected_ = true;
        state_ = State::Idle;
        count_ = 0;
        dataOut_ = true;
    }
    const bool rising = clock && !clock_;
    clock_ = clock;
    if (rising) RisingEdge(dataIn);
}

void SerialEeprom::RisingEdge(bool dataIn) {
    switch (state_) {
    case State::Idle:
        // Leading zeros are ignored until the start bit.
        if (dataIn) {
            state_ = State::Opcode;
            count_ = 0;
            opcode_ = 0;
        }
        break;
    case State::Opcode:
        opcode_ = (opcode_ << 1) | (dataIn ? 1u : 0u);
        if (++count_ == 2) {
            state_ = State::Address;
            count_ = 0;
            address_ = 0;
        }
        break;
    case State::Address:
        address_ = (address_ << 1) | (dataIn ? 1u : 0u);
        if (++count_ == addressBits_) {
            if (opcode_ == 0b10) {
                // The dummy 0 follows the last address bit at once; each
                // further rising edge puts the next data bit on the line.
                state_ = State::Reading;
                bit_ = 16;
                dataOut_ = false;
            } else {
                state_ = State::Ignoring;  // writes and erases are not modelled
            }
        }
        break;
    case State::Reading:
        if (bit_ == 0) {
            address_ = (address_ + 1) & ((1u << addressBits_) - 1);
            bit_ = 16;
        }
        --bit_;
        dataOut_ = (Word(address_) >> bit_) & 1u;
        break;
    case State::Ignoring:
        break;
    }
}

}  // namespace driverd
