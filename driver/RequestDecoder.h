// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- checks one received frame and turns it into a
// request, or says why it is refused. Pure: no state, no system calls, so it
// can be fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/DriverRecords.h"

namespace driverd {

union RequestRecord {
    VersionRecord Version;
    PciScanRecord Scan;
    CardInfoRecord CardInfo;
    CardRegisterRecord Registration;
    ConfigAccessRecord Config;
    TransferRecord Transfer;
};

struct DecodedRequest {
    uint32_t Code = 0;
    uint32_t RecordSize = 0;
    RequestRecord Record{};          // the record as sent, zero past RecordSize
    const uint8_t* Data = nullptr;   // into the frame: bytes a transfer writes
    uint32_t DataSize = 0;
};

enum class Refusal {
    None,
    // The frame itself cannot be trusted: the connection is dropped.
    Truncated,      // shorter than its header, or than the sizes it announces
    BadMagic,
    Oversized,      // longer than any request, or longer than it announces
    // A well-formed frame asking for something we do not serve: answered
    // with a non-zero status, the record sent back unchanged.
    UnknownCode,
    WrongRecordSize,
    BadField,       // a transfer or configuration field out of bounds
    BadData,        // data where none belongs, or not as much as written
};

Refusal DecodeRequest(const uint8_t* frame, std::size_t length, DecodedRequest& out);

// True for the refusals after which the connection is closed.
constexpr bool DropsConnection(Refusal r) {
    return r == Refusal::Truncated || r == Refusal::BadMagic || r == Refusal::Oversized;
}

// The reply status for a refusal (0 for None).
uint32_t RefusalStatus(Refusal r);

}  // namespace driverd
