// Quorrin driver transport -- requests to quorrin-driverd over a
// Unix-domain socket, standing in for DeviceIoControl on \\.\WINDRVR6.
#include "windriver/Transport.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "windriver/linux/DriverWire.h"

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
};

struct Mapping {
    DriverHandle Owner;
    uint32_t CardHandle;
    void* Base;
    std::size_t Length;
};

std::mutex tableLock;
std::map<DriverHandle, std::shared_ptr<Connection>> table;
DriverHandle nextHandle = 1;

std::mutex mappingLock;
std::vector<Mapping> mappings;

void ReleaseMappings(DriverHandle owner, bool allCards, uint32_t cardHandle) {
    std::lock_guard guard(mappingLock);
    auto keep = std::remove_if(mappings.begin(), mappings.end(), [&](const Mapping& m) {
        if (m.Owner != owner || (!allCards && m.CardHandle != cardHandle)) return false;
        munmap(m.Base, m.Length);
        return true;
    });
    mappings.erase(keep, mappings.end());
}

// The connection has failed: nothing more is sent on it and its card
// mappings go, as they would when a process loses its driver handle.
void Drop(DriverHandle handle, Connection& c) {
    if (c.Fd >= 0) close(c.Fd);
    c.Fd = -1;
    ReleaseMappings(handle, true, 0);
}

std::shared_ptr<Connection> Find(DriverHandle handle) {
    std::lock_guard guard(tableLock);
    auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second;
}

struct ReceivedFds {
    std::vector<int> Fds;
    ~ReceivedFds() {
        for (int fd : Fds) close(fd);
    }
};

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

// One frame, waiting at most timeoutMs; false when none came whole.
bool Receive(int fd, int timeoutMs, Frame& frame, ReceivedFds& fds) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1 || !(p.revents & POLLIN)) return false;
    frame.Set(0);
    iovec part{frame.data(), Frame::Capacity()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * MaxResourceItems)];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); got >= 0 && c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < n; ++i) {
            int one;
            std::memcpy(&one, CMSG_DATA(c) + i * sizeof(int), sizeof one);
            fds.Fds.push_back(one);
        }
    }
    if (got < static_cast<ssize_t>(sizeof(wire::FrameHeader)) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)))
        return false;
    frame.Set(static_cast<std::size_t>(got));
    return true;
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

// Maps the memory items whose backing came with a registration reply and
// writes the client's own addresses into their DirectAddress fields.
void MapCard(DriverHandle owner, uint8_t* record, const std::vector<uint8_t>& data, const std::vector<int>& fds) {
    CardRegisterRecord r;
    std::memcpy(&r, record, sizeof r);
    const std::size_t n = data.size() / sizeof(uint32_t);
    if (n != fds.size() || r.CardHandle == 0) return;
    for (std::size_t k = 0; k < n; ++k) {
        uint32_t index;
        std::memcpy(&index, data.data() + k * sizeof index, sizeof index);
        if (index >= r.Card.NumItems || index >= MaxResourceItems) continue;
        ResourceItem& item = r.Card.Items[index];
        if (item.Type != ItemMemory || item.Mem.Bytes == 0 || item.Mem.DirectAddress != 0) continue;
        void* p = mmap(nullptr, item.Mem.Bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fds[k], 0);
        if (p == MAP_FAILED) continue;
        item.Mem.DirectAddress = reinterpret_cast<uintptr_t>(p);
        std::lock_guard guard(mappingLock);
        mappings.push_back({owner, r.CardHandle, p, item.Mem.Bytes});
    }
    std::memcpy(record, &r, sizeof r);
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
    const timeval timeout{ReplyTimeoutMs / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    Frame frame;
    ReceivedFds fds;
    wire::FrameHeader welcome{};
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !Receive(fd, WelcomeTimeoutMs, frame, fds) ||
        (std::memcpy(&welcome, frame.data(), sizeof welcome), welcome.Magic != wire::WelcomeMagic)) {
        close(fd);
        return NoDriverHandle;
    }
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
    Drop(handle, *c);
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

bool DirectAccessible(uint64_t address, uint64_t length) {
    std::lock_guard guard(mappingLock);
    for (const Mapping& m : mappings) {
        const uint64_t base = reinterpret_cast<uintptr_t>(m.Base);
        if (address >= base && address - base < m.Length && length <= m.Length - (address - base)) return true;
    }
    return false;
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
        Drop(handle, *c);
        return wire::StatusNoAnswer;
    }

    Frame frame;
    ReceivedFds fds;
    wire::FrameHeader reply{};
    if (!Receive(c->Fd, ReplyTimeoutMs, frame, fds) ||
        (std::memcpy(&reply, frame.data(), sizeof reply), reply.Magic != wire::ReplyMagic) ||
        std::size_t{reply.RecordSize} + reply.DataSize != frame.size() - sizeof reply) {
        // No answer, or one we cannot trust: the connection is out of step.
        Drop(handle, *c);
        return wire::StatusNoAnswer;
    }
    const uint8_t* replyRecord = frame.data() + sizeof reply;
    const std::vector<uint8_t> data(replyRecord + reply.RecordSize, replyRecord + reply.RecordSize + reply.DataSize);
    if (reply.RecordSize == size) std::memcpy(bytes, replyRecord, size);
    if (reply.CodeOrStatus != 0) return reply.CodeOrStatus;

    if (user && data.size() == userBytes && (code == WD_PciConfigDump || code == WD_Transfer))
        std::memcpy(user, data.data(), userBytes);
    if (code == WD_CardRegister && size == sizeof(CardRegisterRecord) && reply.RecordSize == size)
        MapCard(handle, bytes, data, fds.Fds);
    if (code == WD_CardUnregister && size == sizeof(CardRegisterRecord)) {
        uint32_t cardHandle;
        std::memcpy(&cardHandle, bytes + offsetof(CardRegisterRecord, CardHandle), sizeof cardHandle);
        ReleaseMappings(handle, false, cardHandle);
    }
    return reply.CodeOrStatus;
}
