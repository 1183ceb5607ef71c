// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- request handling, independent of the transport.
#include "driver/DriverService.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>

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

std::string LocationText(const Location& where) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", where.Bus & 0xFFu, where.Slot & 0x1Fu, where.Function & 0x7u);
    return text;
}

DriverService::DriverService(Bus& bus, std::string versionText, ServiceHooks hooks)
    : bus_(bus), versionText_(std::move(versionText)), hooks_(std::move(hooks)) {}

void DriverService::Say(const std::string& text) const {
    if (hooks_.Log) hooks_.Log(text);
    else std::fprintf(stderr, "quorrin-driverd: %s\n", text.c_str());
}

DriverService::ClientId DriverService::Connect(uint32_t uid) {
    const ClientId id = nextClient_++;
    clients_[id] = ClientState{};
    clients_[id].Uid = uid;
    return id;
}

void DriverService::Release(Cards::iterator card) {
    bus_.Unregister(card->second.Card.Where);
    auto client = clients_.find(card->second.Client);
    if (client != clients_.end()) {
        if (client->second.Registrations > 0) --client->second.Registrations;
        auto user = perUser_.find(client->second.Uid);
        if (user != perUser_.end() && --user->second == 0) perUser_.erase(user);
    }
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

// Looked at before every request, so a card nobody uses is free for the
// next one who asks; nothing needs a timer.
void DriverService::Expire() {
    const auto now = hooks_.Now();
    for (auto it = cards_.begin(); it != cards_.end();) {
        const auto next = std::next(it);
        if (now - it->second.LastUse >= hooks_.Lapse) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(hooks_.Lapse).count();
            Say(LocationText(it->second.Card.Where) + ": the registration of uid " +
                std::to_string(clients_[it->second.Client].Uid) + " lapsed after " + std::to_string(seconds) +
                " s without a request");
            Release(it);
        }
        it = next;
    }
}

Answer DriverService::Refuse(Refusal why, const DecodedRequest& request) {
    Answer a;
    a.Status = RefusalStatus(why);
    a.Record = request.Record;
    a.RecordSize = request.RecordSize;
    return a;
}

Answer DriverService::Serve(ClientId client, const DecodedRequest& request) {
    Expire();
    Answer a;
    a.Record = request.Record;
    a.RecordSize = request.RecordSize;
    switch (request.Code) {
    case WD_Version: Version(a); break;
    case WD_PciScanCards: Scan(a); break;
    case WD_PciGetCardInfo: CardInfo(client, a); break;
    case WD_CardRegister: Register(client, a); break;
    case WD_CardUnregister: Unregister(client, a); break;
    case WD_PciConfigDump: ConfigDump(client, a); break;
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

DriverService::Cards::iterator DriverService::Holder(const Location& where) {
    return std::find_if(cards_.begin(), cards_.end(), [&](const auto& c) { return c.second.Card.Where == where; });
}

bool DriverService::RegistrationAllowed(const ClientState& state) const {
    if (state.Registrations >= MaxRegistrationsPerConnection) return false;
    if (!CountsAgainstUserCaps(state.Uid)) return true;
    const auto user = perUser_.find(state.Uid);
    return user == perUser_.end() || user->second < MaxRegistrationsPerUser;
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
    ClientState& state = clients_[client];
    // A card is held once: by another client it is locked, by this one it is
    // already registered. Either way status 0 and no card handle.
    if (const auto held = Holder(card.Where); held != cards_.end()) {
        if (!r.LockCheckOnly && held->second.Client != client && !held->second.ToldHeld) {
            held->second.ToldHeld = true;
            Say(LocationText(card.Where) + ": registration by uid " + std::to_string(state.Uid) + " refused: uid " +
                std::to_string(clients_[held->second.Client].Uid) + " holds the card");
        }
        return;
    }
    if (r.LockCheckOnly) {
        r.CardHandle = LockCheckHandle;
        return;
    }
    if (!RegistrationAllowed(state)) {
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
    ++perUser_[state.Uid];
    cards_[r.CardHandle] = Registration{client, card, std::move(resources), hooks_.Now()};
    // Whatever was clocked into the part before is not known to us.
    eeproms_[card.Where] = EepromLines{};
}

void DriverService::Unregister(ClientId client, Answer& a) {
    const auto it = cards_.find(a.Record.Registration.CardHandle);
    if (it == cards_.end() || it->second.Client != client) {
        a.Status = wire::StatusNotRegistered;
        return;
    }
    Release(it);
}

void DriverService::ConfigDump(ClientId client, Answer& a) {
    ConfigAccessRecord& c = a.Record.Config;
    const Location where{c.Bus, c.Slot, c.Function};
    if (!ConfigAccessAllowed(c.Direction)) {
        a.Status = wire::StatusDenied;
        return;
    }
    // Reading the card it holds keeps a registration alive.
    if (const auto held = Holder(where); held != cards_.end() && held->second.Client == client)
        held->second.LastUse = hooks_.Now();
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

// The policy's decision and the bus's access for one transfer inside a
// registration's resource. A function that is gone (removed, replaced, its
// mapping torn down) ends the registration: nothing more reaches it.
uint32_t DriverService::Move(Cards::iterator card, std::size_t index, uint64_t offset, const TransferRecord& t,
                             const DecodedRequest& request, Answer& a) {
    const Registration& held = card->second;
    const Location where = held.Card.Where;
    const uint32_t unit = wire::TransferUnitBytes(t.Command);
    const bool isRead = wire::TransferIsRead(t.Command);
    const TransferAsk ask{held.Card.VendorId, held.Card.DeviceId, held.Resources[index].Bar, offset, unit,
                          t.Bytes, isRead, request.Data};
    bool gone = false;
    auto readNow = [&]() -> std::optional<uint8_t> {
        uint8_t byte = 0;
        const TransferResult got = bus_.Transfer(where, index, offset, 1, true, true, &byte, 1);
        gone = got == TransferResult::Gone;
        return got == TransferResult::Done ? std::optional<uint8_t>(byte) : std::nullopt;
    };
    const Verdict verdict = JudgeTransfer(ask, eeproms_[where], readNow);
    TransferResult result = gone ? TransferResult::Gone : TransferResult::Failed;
    std::vector<uint8_t> data(t.Bytes);
    if (verdict == Verdict::Denied) return wire::StatusDenied;
    if (verdict == Verdict::Allowed) {
        if (!isRead) std::memcpy(data.data(), request.Data, t.Bytes);
        result = bus_.Transfer(where, index, offset, unit, isRead, t.AutoIncrement != 0, data.data(), t.Bytes);
    }
    if (result == TransferResult::Gone) {
        Say(LocationText(where) + ": the function was removed or replaced, or its registers faulted; the "
            "registration of uid " + std::to_string(clients_[held.Client].Uid) + " ends");
        Release(card);
        return wire::StatusOutOfRange;
    }
    if (result != TransferResult::Done) return wire::StatusRefused;
    if (isRead) a.Data = std::move(data);
    return 0;
}

void DriverService::Transfer(ClientId client, const DecodedRequest& request, Answer& a) {
    const TransferRecord& t = a.Record.Transfer;
    const uint32_t unit = wire::TransferUnitBytes(t.Command);
    const bool memory = wire::TransferIsMemory(t.Command);
    const uint64_t span = t.AutoIncrement ? t.Bytes : unit;
    for (auto card = cards_.begin(); card != cards_.end(); ++card) {
        if (card->second.Client != client) continue;
        for (std::size_t i = 0; i < card->second.Resources.size(); ++i) {
            const Resource& r = card->second.Resources[i];
            if (r.Kind != (memory ? ResourceKind::Memory : ResourceKind::IO)) continue;
            if (t.Address < r.Address || t.Address - r.Address > r.Length || span > r.Length - (t.Address - r.Address))
                continue;
            const uint64_t offset = t.Address - r.Address;
            card->second.LastUse = hooks_.Now();
            // Both backends see only whole units: a device register is never
            // reached across its boundary.
            if (offset % unit != 0) {
                a.Status = wire::StatusBadRecord;
                return;
            }
            a.Status = Move(card, i, offset, t, request, a);
            return;
        }
    }
    a.Status = wire::StatusOutOfRange;
}

}  // namespace driverd
