// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- validation of received request frames.
#include "driver/RequestDecoder.h"

#include <cstring>

#include "wire/DriverWire.h"

namespace driverd {

namespace {

Refusal CheckTransfer(const TransferRecord& t, uint32_t dataSize) {
    const uint32_t unit = wire::TransferUnitBytes(t.Command);
    if (unit == 0 || t.Bytes == 0 || t.Bytes > wire::MaxTransferBytes || t.Bytes % unit != 0 ||
        t.AutoIncrement > 1)
        return Refusal::BadField;
    const uint32_t expected = wire::TransferIsRead(t.Command) ? 0 : t.Bytes;
    return dataSize == expected ? Refusal::None : Refusal::BadData;
}

Refusal CheckConfig(const ConfigAccessRecord& c) {
    // The direction is well-formed either way; whether it is served is the
    // access policy's to say.
    if (c.Bytes < 1 || c.Bytes > 4) return Refusal::BadField;
    // Offsets past any configuration space are refused here; the service
    // checks against the function's own size.
    if (c.Offset > 4096 - c.Bytes) return Refusal::BadField;
    return Refusal::None;
}

}  // namespace

Refusal DecodeRequest(const uint8_t* frame, std::size_t length, DecodedRequest& out) {
    out = DecodedRequest{};
    // Brace-initialising a union zeroes its first member only with some
    // compilers; the record must be zero past what the frame carries.
    std::memset(&out.Record, 0, sizeof out.Record);
    wire::FrameHeader header;
    if (frame == nullptr || length < sizeof header) return Refusal::Truncated;
    if (length > wire::MaxFrameSize) return Refusal::Oversized;
    std::memcpy(&header, frame, sizeof header);
    if (header.Magic != wire::RequestMagic) return Refusal::BadMagic;
    // Sizes are compared one at a time so that no sum can wrap.
    const std::size_t body = length - sizeof header;
    if (header.RecordSize > wire::MaxRecordSize || header.DataSize > wire::MaxTransferBytes)
        return Refusal::Oversized;
    if (std::size_t{header.RecordSize} + header.DataSize > body) return Refusal::Truncated;
    if (std::size_t{header.RecordSize} + header.DataSize < body) return Refusal::Oversized;

    out.Code = header.CodeOrStatus;
    out.RecordSize = header.RecordSize;
    std::memcpy(&out.Record, frame + sizeof header, header.RecordSize);
    out.Data = header.DataSize ? frame + sizeof header + header.RecordSize : nullptr;
    out.DataSize = header.DataSize;

    const uint32_t size = wire::RecordSizeOf(out.Code);
    if (size == 0) return Refusal::UnknownCode;
    if (size != header.RecordSize) return Refusal::WrongRecordSize;
    if (out.Code == WD_Transfer) return CheckTransfer(out.Record.Transfer, out.DataSize);
    if (out.DataSize != 0) return Refusal::BadData;
    if (out.Code == WD_PciConfigDump) return CheckConfig(out.Record.Config);
    return Refusal::None;
}

uint32_t RefusalStatus(Refusal r) {
    switch (r) {
    case Refusal::None: return 0;
    case Refusal::UnknownCode: return wire::StatusUnknownRequest;
    default: return wire::StatusBadRecord;
    }
}

}  // namespace driverd
