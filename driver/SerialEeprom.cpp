// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the serial EEPROM model.
#include "driver/SerialEeprom.h"

#include <algorithm>
#include <utility>

namespace driverd {

namespace {

constexpr unsigned OpcodeRead = 0b10;
constexpr unsigned OpcodeWrite = 0b01;
constexpr unsigned OpcodeErase = 0b11;
constexpr unsigned OpcodeExtended = 0b00;  // the top two address bits say which
constexpr unsigned ExtendedWriteAll = 0b01;
constexpr unsigned ExtendedEraseAll = 0b10;
constexpr unsigned ExtendedEnable = 0b11;
constexpr unsigned ExtendedDisable = 0b00;
constexpr uint16_t Erased = 0xFFFF;

}  // namespace

SerialEeprom::SerialEeprom(unsigned addressBits, std::vector<uint16_t> words, bool present)
    : addressBits_(addressBits), words_(std::move(words)), present_(present) {
    words_.resize(std::max<std::size_t>(words_.size(), std::size_t{1} << addressBits_), Erased);
}

void SerialEeprom::Drive(bool chipSelect, bool clock, bool dataIn) {
    if (!present_) return;
    if (!chipSelect) {
        if (selected_) Deselected();
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

// A programming instruction runs once chip select falls after its last bit;
// one cut short does nothing.
void SerialEeprom::Deselected() {
    if (state_ != State::Complete || !writeEnabled_) return;
    const unsigned mask = (1u << addressBits_) - 1;
    switch (opcode_) {
    case OpcodeWrite: words_[address_ & mask] = data_; break;
    case OpcodeErase: words_[address_ & mask] = Erased; break;
    case OpcodeExtended:
        if ((address_ >> (addressBits_ - 2)) == ExtendedWriteAll) std::fill(words_.begin(), words_.end(), data_);
        if ((address_ >> (addressBits_ - 2)) == ExtendedEraseAll) std::fill(words_.begin(), words_.end(), Erased);
        break;
    default: break;
    }
}

void SerialEeprom::AddressTaken() {
    const unsigned extended = address_ >> (addressBits_ - 2);
    switch (opcode_) {
    case OpcodeRead:
        // The dummy 0 follows the last address bit at once; each further
        // rising edge puts the next data bit on the line.
        state_ = State::Reading;
        bit_ = 16;
        dataOut_ = false;
        return;
    case OpcodeWrite:
        state_ = State::Data;
        count_ = 0;
        data_ = 0;
        return;
    case OpcodeErase: state_ = State::Complete; return;
    default: break;
    }
    if (extended == ExtendedWriteAll) {
        state_ = State::Data;
        count_ = 0;
        data_ = 0;
        return;
    }
    // The latch changes as soon as the instruction is whole.
    if (extended == ExtendedEnable) writeEnabled_ = true;
    if (extended == ExtendedDisable) writeEnabled_ = false;
    state_ = State::Complete;
}

void SerialEeprom::RisingEdge(bool dataIn) {
    const unsigned bit = dataIn ? 1u : 0u;
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
        opcode_ = (opcode_ << 1) | bit;
        if (++count_ == 2) {
            state_ = State::Address;
            count_ = 0;
            address_ = 0;
        }
        break;
    case State::Address:
        address_ = (address_ << 1) | bit;
        if (++count_ == addressBits_) AddressTaken();
        break;
    case State::Reading:
        if (bit_ == 0) {
            address_ = (address_ + 1) & ((1u << addressBits_) - 1);
            bit_ = 16;
        }
        --bit_;
        dataOut_ = (words_[address_] >> bit_) & 1u;
        break;
    case State::Data:
        data_ = static_cast<uint16_t>((data_ << 1) | bit);
        if (++count_ == 16) state_ = State::Complete;
        break;
    case State::Complete:
        break;  // clocks past the last bit change nothing
    }
}

}  // namespace driverd
