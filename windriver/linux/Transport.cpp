// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver transport -- requests to quorrin-driverd over a
// Unix-domain socket, standing in for DeviceIoControl on \\.\WINDRVR6.
#include "windriver/Transport.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "wire/DriverWire.h"

// The stand-in driver service listens here.
const char* const DefaultDriverDevice = "/run/quorrin/windrvr6";

namespace {

// A local service answers in microseconds; these only stop a wedged one
// from hanging the caller.
constexpr int WelcomeTimeoutMs = 3000;
constexpr int ReplyTimeoutMs = 10000;

struct Connection {
    std::mutex Lock;  // one request at a time on a connection
    int Fd = -1;
    bool Lost = false;
};

std::mutex tableLock;
std::map<DriverHandle, std::shared_ptr<Connection>> table;
DriverHandle nextHandle = 1;

// The connection has failed: nothing more is sent on it, and the handle
// says so (DriverConnectionLost) until it is closed.
void Drop(Connection& c) {
    if (c.Fd >= 0) close(c.Fd);
    c.Fd = -1;
    c.Lost = true;
}

std::shared_ptr<Connection> Find(DriverHandle handle) {
    std::lock_guard guard(tableLock);
    auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second;
}

// A received frame in this thread's receive buffer. The buffer is allocated
// once and never cleared: only the bytes the frame carried are read.
class Frame {
public:
    uint8_t* data() { return Buffer(); }
    const uint8_t* data() const { return Buffer(); }
    std::size_t size() const { return size_; }
    void Set(std::size_t size) { size_ = size; }
    static std::size_t Capacity() { return wire::MaxFrameSize; }

private:
    static uint8_t* Buffer() {
        thread_local std::unique_ptr<uint8_t[]> buffer(new uint8_t[wire::MaxFrameSize]);
        return buffer.get();
    }
    std::size_t size_ = 0;
};

// One frame, waiting at most the socket's receive time-out; false when none
// came whole. Blocking on the receive itself, with no poll first, keeps a
// request at two system calls. No control buffer is offered: descriptors the
// service never sends could not be taken in, and the kernel discards any.
bool Receive(int fd, Frame& frame) {
    frame.Set(0);
    iovec part{frame.data(), Frame::Capacity()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t got;
    do {
        got = recvmsg(fd, &message, 0);
    } while (got < 0 && errno == EINTR);
    if (got < static_cast<ssize_t>(sizeof(wire::FrameHeader)) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)))
        return false;
    frame.Set(static_cast<std::size_t>(got));
    return true;
}

void SetTimeout(int fd, int option, int ms) {
    const timeval timeout{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof timeout);
}

struct Token {
    uint32_t Value = 0;
    void* Address = nullptr;
    uint32_t Length = 0;
};
constexpr uint32_t TokenSlots = 16;
thread_local Token tokens[TokenSlots];
thread_local uint32_t tokenSerial = 0;

bool Resolve(uint32_t value, uint8_t*& address, uint32_t& length) {
    if (value == 0) return false;
    if constexpr (sizeof(void*) == 4) {
        address = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(value));
        length = UINT32_MAX;
        return true;
    }
    const Token& t = tokens[value % TokenSlots];
    if (t.Value != value) return false;
    address = static_cast<uint8_t*>(t.Address);
    length = t.Length;
    return true;
}

}  // namespace

namespace transport {

DriverHandle Open(const std::string& device) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (device.empty() || device.size() >= sizeof address.sun_path) return NoDriverHandle;
    std::memcpy(address.sun_path, device.c_str(), device.size());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return NoDriverHandle;
    SetTimeout(fd, SO_SNDTIMEO, ReplyTimeoutMs);
    SetTimeout(fd, SO_RCVTIMEO, WelcomeTimeoutMs);
    Frame frame;
    wire::FrameHeader welcome{};
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !Receive(fd, frame) ||
        (std::memcpy(&welcome, frame.data(), sizeof welcome), welcome.Magic != wire::WelcomeMagic)) {
        close(fd);
        return NoDriverHandle;
    }
    SetTimeout(fd, SO_RCVTIMEO, ReplyTimeoutMs);
    auto c = std::make_shared<Connection>();
    c->Fd = fd;
    std::lock_guard guard(tableLock);
    const DriverHandle handle = nextHandle++;
    table[handle] = std::move(c);
    return handle;
}

void Close(DriverHandle handle) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard guard(tableLock);
        auto it = table.find(handle);
        if (it == table.end()) return;
        c = it->second;
        table.erase(it);
    }
    std::lock_guard guard(c->Lock);
    Drop(*c);
}

}  // namespace transport

uint32_t ClientAddress(void* address, uint32_t length) {
    if constexpr (sizeof(void*) == 4) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    } else {
        if (address == nullptr) return 0;
        tokenSerial = (tokenSerial + 1) & 0x7FFFFFFFu;
        if (tokenSerial == 0) tokenSerial = 1;
        const uint32_t value = 0x80000000u | tokenSerial;
        tokens[value % TokenSlots] = {value, address, length};
        return value;
    }
}

// The service hands out no mappings: every memory access is a transfer.
bool DirectAccessible(uint64_t, uint64_t) {
    return false;
}

uint64_t MemoryItemAddress(const ResourceItem& item) { return wire::ItemMemoryAddress(item); }

bool DriverConnectionLost(DriverHandle handle) {
    const std::shared_ptr<Connection> c = Find(handle);
    if (!c) return false;
    std::lock_guard guard(c->Lock);
    return c->Lost;
}

uint32_t DriverRequest(uint32_t code, DriverHandle handle, void* record, uint32_t size) {
    const std::shared_ptr<Connection> c = Find(handle);
    if (!c) return wire::StatusNoAnswer;
    if (record == nullptr || size > wire::MaxRecordSize) return wire::StatusBadRecord;
    uint8_t* const bytes = static_cast<uint8_t*>(record);

    // The pointer field of a configuration read or a transfer names the
    // caller's memory: resolve it now, before anything is sent.
    uint8_t* user = nullptr;
    uint32_t userBytes = 0;
    const uint8_t* sendData = nullptr;
    uint32_t sendBytes = 0;
    if (code == WD_PciConfigDump && size == sizeof(ConfigAccessRecord)) {
        ConfigAccessRecord r;
        std::memcpy(&r, bytes, sizeof r);
        uint32_t length = 0;
        if (!Resolve(r.Buffer, user, length) || length < sizeof(uint32_t)) return wire::StatusBadBuffer;
        userBytes = sizeof(uint32_t);
    } else if (code == WD_Transfer && size == sizeof(TransferRecord)) {
        TransferRecord t;
        std::memcpy(&t, bytes, sizeof t);
        uint32_t length = 0;
        if ((t.Data >> 32) != 0 || !Resolve(static_cast<uint32_t>(t.Data), user, length) || length < t.Bytes)
            return wire::StatusBadBuffer;
        if (t.Bytes > wire::MaxTransferBytes) return wire::StatusBadRecord;
        userBytes = t.Bytes;
        if (wire::TransferUnitBytes(t.Command) != 0 && !wire::TransferIsRead(t.Command)) {
            sendData = user;
            sendBytes = t.Bytes;
        }
    }

    std::lock_guard guard(c->Lock);
    if (c->Fd < 0) return wire::StatusNoAnswer;
    const wire::FrameHeader header{wire::RequestMagic, code, size, sendBytes};
    iovec parts[3] = {{const_cast<wire::FrameHeader*>(&header), sizeof header},
                      {bytes, size},
                      {const_cast<uint8_t*>(sendData), sendBytes}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 3;
    if (sendmsg(c->Fd, &message, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof header + size + sendBytes)) {
        Drop(*c);
        return wire::StatusNoAnswer;
    }

    Frame frame;
    wire::FrameHeader reply{};
    if (!Receive(c->Fd, frame) ||
        (std::memcpy(&reply, frame.data(), sizeof reply), reply.Magic != wire::ReplyMagic) ||
        std::size_t{reply.RecordSize} + reply.DataSize != frame.size() - sizeof reply) {
        // No answer, or one we cannot trust: the connection is out of step.
        Drop(*c);
        return wire::StatusNoAnswer;
    }
    const uint8_t* replyRecord = frame.data() + sizeof reply;
    const std::vector<uint8_t> data(replyRecord + reply.RecordSize, replyRecord + reply.RecordSize + reply.DataSize);
    if (reply.RecordSize == size) std::memcpy(bytes, replyRecord, size);
    if (reply.CodeOrStatus != 0) return reply.CodeOrStatus;

    if (user && data.size() == userBytes && (code == WD_PciConfigDump || code == WD_Transfer))
        std::memcpy(user, data.data(), userBytes);
    return reply.CodeOrStatus;
}
