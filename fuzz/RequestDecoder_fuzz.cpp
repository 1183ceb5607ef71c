// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin fuzz target -- one received frame through the request decoder.
// Whatever the bytes, the decoder must not read past the frame, and what it
// accepts must be a request the service can serve without further checks.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/RequestDecoder.h"
#include "wire/DriverWire.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    driverd::DecodedRequest request;
    const driverd::Refusal why = driverd::DecodeRequest(data, size, request);

    // The record is a copy, zero past what was sent.
    Require(request.RecordSize <= sizeof request.Record);
    const auto* record = reinterpret_cast<const uint8_t*>(&request.Record);
    for (std::size_t i = request.RecordSize; i < sizeof request.Record; ++i) Require(record[i] == 0);
    if (request.DataSize) {
        Require(request.Data >= data + sizeof(wire::FrameHeader));
        Require(request.Data + request.DataSize == data + size);
    }
    if (why != driverd::Refusal::None) return 0;

    Require(request.RecordSize == wire::RecordSizeOf(request.Code));
    Require(sizeof(wire::FrameHeader) + request.RecordSize + request.DataSize == size);
    if (request.Code == WD_Transfer) {
        const TransferRecord& t = request.Record.Transfer;
        const uint32_t unit = wire::TransferUnitBytes(t.Command);
        Require(unit != 0 && t.Bytes != 0 && t.Bytes % unit == 0 && t.Bytes <= wire::MaxTransferBytes);
        Require(request.DataSize == (wire::TransferIsRead(t.Command) ? 0 : t.Bytes));
    } else {
        Require(request.DataSize == 0 && request.Data == nullptr);
    }
    if (request.Code == WD_PciConfigDump) {
        const ConfigAccessRecord& c = request.Record.Config;
        Require(c.Bytes >= 1 && c.Bytes <= 4 && c.Offset + c.Bytes <= 4096);
    }
    return 0;
}
