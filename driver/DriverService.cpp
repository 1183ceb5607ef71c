// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- request handling, independent of the transport.
#include "driver/DriverService.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "driver/AccessPolicy.h"
#include "wire/DriverWire.h"

namespace driverd {

namespace {

// A memory item's physical address field holds 32 bits; the service keeps
// the upper half of a resource above 4 GiB in the item's driver-own word, so
// the item still names the whole address.
uint64_t MemoryAddress(const ResourceItem& item) {
    return (uint64_t{item.Mem.DriverOwn} << 32) | item.Mem.PhysicalAddress;
}

bool SameItem(const Resource& r, const ResourceItem& item) {
    switch (r.Kind) {
    case ResourceKind::Memory:
        return item.Type == ItemMemory && MemoryAddress(item) == r.Address && item.Mem.Bytes == r.Length &&
               item.Mem.Bar == r.Bar;
    case ResourceKind::IO:
        return item.Type == ItemIO && item.IO.Address == r.Address && item.IO.Bytes == r.Length && item.IO.Bar == r.Bar;
    case ResourceKind::Interrupt:
        return item.Type == ItemInterrupt && item.Int.Number == r.Number;
    }
    return false;
}

bool SameResources(const std::vector<Resource>& resources, const CardResourceBlock& block) {
    const std::size_t n = std::min<std::size_t>(resources.size(), MaxResourceItems);
    if (block.NumItems != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!SameItem(resources[i], block.Items[i])) return false;
    return true;
}

}  // namespace

void FillResourceBlock(const std::vector<Resource>& resources, CardResourceBlock& block) {
    block = CardResourceBlock{};
    const std::size_t n = std::min<std::size_t>(resources.size(), MaxResourceItems);
    block.NumItems = static_cast<uint32_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
        ResourceItem& item = block.Items[i];
        const Resource& r = resources[i];
        switch (r.Kind) {
        case ResourceKind::Memory:
            item.Type = ItemMemory;
            item.Mem.PhysicalAddress = static_cast<uint32_t>(r.Address);
            item.Mem.DriverOwn = static_cast<uint32_t>(r.Address >> 32);
            item.Mem.Bytes = static_cast<uint32_t>(r.Length);
            item.Mem.Bar = r.Bar;
            break;
        case ResourceKind::IO:
            item.Type = ItemIO;
            item.IO.Address = r.Address;
            item.IO.Bytes = static_cast<uint32_t>(r.Length);
            item.IO.Bar = r.Bar;
            break;
        case ResourceKind::Interrupt:
            item.Type = ItemInterrupt;
            item.Int.Number = r.Number;
            break;
        }
    }
}

DriverService::DriverService(Bus& bus, std::string versionText) : bus_(bus), versionText_(std::move(versionText)) {}

DriverService::ClientId DriverService::Connect() {
    const ClientId id = nextClient_++;
    clients_[id] = ClientState{};
    return id;
}

void DriverService::Release(std::map<uint32_t, Registration>::iterator card) {
    bus_.Unregister(card->second.Card.Where);
    auto client = clients_.find(card->second.Client);
    if (client != clients_.end() && client->second.Registrations > 0) --client->second.Registrations;
    cards_.erase(card);
}

void DriverService::Disconnect(ClientId client) {
    for (auto it = cards_.begin(); it != cards_.end();) {
        const auto next = std::next(it);
        if (it->second.Client == client) Release(it);
        it = next;
    }
    clients_.erase(client);
}

Answer DriverService::Refuse(Refusal why, const DecodedRequest& request) {
    Answer a;
    a.Status = RefusalStatus(why);
    a.Record = request.Record;
    a.RecordSize = request.RecordSize;
    return a;
}

Answer DriverService::Serve(ClientId client, const DecodedRequest& request) {
    Answer a;
    a.Record = request.Record;
    a.RecordSize = request.RecordSize;
    switch (request.Code) {
    case WD_Version: Version(a); break;
    case WD_PciScanCards: Scan(a); break;
    case WD_PciGetCardInfo: CardInfo(client, a); break;
    case WD_CardRegister: Register(client, a); break;
    case WD_CardUnregister: Unregister(client, a); break;
    case WD_PciConfigDump: ConfigDump(a); break;
    case WD_Transfer: Transfer(client, request, a); break;
    default: a.Status = wire::StatusUnknownRequest; break;
    }
    return a;
}

void DriverService::Version(Answer& a) {
    VersionRecord& v = a.Record.Version;
    v = VersionRecord{};
    v.Version = ServiceVersion;
    std::strncpy(v.Text, versionText_.c_str(), sizeof v.Text - 1);
}

void DriverService::Scan(Answer& a) {
    PciScanRecord& s = a.Record.Scan;
    const uint32_t vendor = s.SearchVendorId, device = s.SearchDeviceId, options = s.Options;
    s = PciScanRecord{};
    s.SearchVendorId = vendor;
    s.SearchDeviceId = device;
    s.Options = options;
    for (const Function& f : bus_.Scan()) {
        if ((vendor && f.VendorId != vendor) || (device && f.DeviceId != device)) continue;
        if (s.CardCount == MaxScanCards) break;  // the reply holds no more
        s.Ids[s.CardCount] = {f.VendorId, f.DeviceId};
        s.Locations[s.CardCount] = {f.Where.Bus, f.Where.Slot, f.Where.Function};
        ++s.CardCount;
    }
}

void DriverService::CardInfo(ClientId client, Answer& a) {
    CardInfoRecord& c = a.Record.CardInfo;
    const Location where{c.Bus, c.Slot, c.Function};
    std::vector<Resource> resources;
    ClientState& state = clients_[client];
    const bool answered = bus_.CardInfo(where, resources);
    state.HaveLastInfo = true;
    state.LastInfoRefused = !answered;
    state.LastInfo = where;
    if (!answered) {
        a.Status = bus_.ConfigSize(where) ? wire::StatusRefused : wire::StatusNoSuchCard;
        return;
    }
    FillResourceBlock(resources, c.Card);
}

// A registration names its card only by its resources, as the card
// information reply gave them. Functions with identical resources (say none
// at all) are told apart by the function this client last asked about. When
// that request failed, the client holds nothing that describes a card and
// nothing is registered: no other function is taken for it, so the answer
// depends on that card alone.
bool DriverService::FindCard(ClientId client, const CardResourceBlock& block, Function& card,
                             std::vector<Resource>& resources) {
    const ClientState& state = clients_[client];
    if (state.HaveLastInfo && state.LastInfoRefused) return false;
    const std::vector<Function> functions = bus_.Scan();
    auto matches = [&](const Function& f) {
        return bus_.CardInfo(f.Where, resources) && SameResources(resources, block);
    };
    if (state.HaveLastInfo) {
        for (const Function& f : functions)
            if (f.Where == state.LastInfo && matches(f)) {
                card = f;
                return true;
            }
    }
    for (const Function& f : functions)
        if (matches(f)) {
            card = f;
            return true;
        }
    return false;
}

bool DriverService::Registered(const Location& where) const {
    return std::any_of(cards_.begin(), cards_.end(),
                       [&](const auto& c) { return c.second.Card.Where == where; });
}

// The counter wraps after 2^32 registrations; a handle still in use is
// never given again, or a new client would take over another's card.
uint32_t DriverService::NewCardHandle() {
    while (nextCardHandle_ == 0 || nextCardHandle_ == LockCheckHandle || cards_.count(nextCardHandle_))
        ++nextCardHandle_;
    return nextCardHandle_++;
}

void DriverService::Register(ClientId client, Answer& a) {
    CardRegisterRecord& r = a.Record.Registration;
    r.CardHandle = 0;
    if (r.Card.NumItems > MaxResourceItems) {
        a.Status = wire::StatusBadRecord;
        return;
    }
    Function card;
    std::vector<Resource> resources;
    if (!FindCard(client, r.Card, card, resources)) {
        a.Status = wire::StatusNoSuchCard;
        return;
    }
    // A card is held once: by another client it is locked, by this one it is
    // already registered. Either way status 0 and no card handle.
    if (Registered(card.Where)) return;
    if (r.LockCheckOnly) {
        r.CardHandle = LockCheckHandle;
        return;
    }
    ClientState& state = clients_[client];
    if (state.Registrations >= MaxRegistrationsPerConnection) {
        a.Status = wire::StatusLimit;
        return;
    }
    switch (bus_.Register(card.Where)) {
        case RegisterAnswer::Refused:
            a.Status = wire::StatusRefused;
            return;
        case RegisterAnswer::NoHandle:
            return;
        case RegisterAnswer::Granted:
            break;
    }
    resources.resize(r.Card.NumItems);
    for (uint32_t i = 0; i < r.Card.NumItems; ++i) {
        ResourceItem& item = r.Card.Items[i];
        if (item.Type == ItemMemory) {
            item.Mem.TransferAddress = MemoryAddress(item);
            // No mapping is handed out: the client reaches memory through
            // transfers, which are checked one by one.
            item.Mem.DirectAddress = 0;
        } else if (item.Type == ItemInterrupt) {
            item.Int.Handle = nextInterruptHandle_++;
        }
    }
    r.CardHandle = NewCardHandle();
    ++state.Registrations;
    cards_[r.CardHandle] = Registration{client, card, std::move(resources)};
}

void DriverService::Unregister(ClientId client, Answer& a) {
    const auto it = cards_.find(a.Record.Registration.CardHandle);
    if (it == cards_.end() || it->second.Client != client) {
        a.Status = wire::StatusNotRegistered;
        return;
    }
    Release(it);
}

void DriverService::ConfigDump(Answer& a) {
    ConfigAccessRecord& c = a.Record.Config;
    const Location where{c.Bus, c.Slot, c.Function};
    const uint32_t size = bus_.ConfigSize(where);
    if (size == 0) {
        a.Status = wire::StatusNoSuchCard;
        return;
    }
    if (c.Offset >= size || c.Bytes > size - c.Offset) {
        a.Status = wire::StatusOutOfRange;
        return;
    }
    uint32_t value = 0;
    if (!bus_.ReadConfig(where, c.Offset, c.Bytes, value)) {
        a.Status = wire::StatusRefused;
        return;
    }
    c.Result = 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    a.Data.assign(p, p + sizeof value);
}

// A write passes only where the policy names the register, and only when it
// leaves the guarded bits as they read now.
uint32_t DriverService::CheckWrite(const Registration& card, std::size_t index, uint64_t offset,
                                   const TransferRecord& t, const uint8_t* data) {
    const uint32_t unit = wire::TransferUnitBytes(t.Command);
    const WritableRegister* rule = FindWritableRegister(card.Card.VendorId, card.Card.DeviceId,
                                                        card.Resources[index].Bar, offset, unit, t.Bytes);
    if (rule == nullptr) return wire::StatusDenied;
    uint8_t current = 0;
    if (!bus_.Transfer(card.Card.Where, index, offset, 1, true, true, &current, 1))
        return wire::StatusRefused;
    return WriteKeepsGuardedBits(*rule, current, data[0]) ? 0 : wire::StatusDenied;
}

void DriverService::Transfer(ClientId client, const DecodedRequest& request, Answer& a) {
    const TransferRecord& t = a.Record.Transfer;
    const uint32_t unit = wire::TransferUnitBytes(t.Command);
    const bool memory = wire::TransferIsMemory(t.Command), isRead = wire::TransferIsRead(t.Command);
    const uint64_t span = t.AutoIncrement ? t.Bytes : unit;
    for (const auto& [handle, card] : cards_) {
        if (card.Client != client) continue;
        for (std::size_t i = 0; i < card.Resources.size(); ++i) {
            const Resource& r = card.Resources[i];
            if (r.Kind != (memory ? ResourceKind::Memory : ResourceKind::IO)) continue;
            if (t.Address < r.Address || t.Address - r.Address > r.Length || span > r.Length - (t.Address - r.Address))
                continue;
            const uint64_t offset = t.Address - r.Address;
            // Both backends see only whole units: a device register is never
            // reached across its boundary.
            if (offset % unit != 0) {
                a.Status = wire::StatusBadRecord;
                return;
            }
            if (!MayAccessBars(bus_.BoundToDriver(card.Card.Where), card.Card.VendorId, card.Card.DeviceId)) {
                a.Status = wire::StatusRefused;
                return;
            }
            if (!isRead) {
                a.Status = CheckWrite(card, i, offset, t, request.Data);
                if (a.Status != 0) return;
            }
            std::vector<uint8_t> data(t.Bytes);
            if (!isRead) std::memcpy(data.data(), request.Data, t.Bytes);
            if (!bus_.Transfer(card.Card.Where, i, offset, unit, isRead, t.AutoIncrement != 0, data.data(),
                               t.Bytes)) {
                a.Status = wire::StatusRefused;
                return;
            }
            if (isRead) a.Data = std::move(data);
            return;
        }
    }
    a.Status = wire::StatusOutOfRange;
}

}  // namespace driverd
