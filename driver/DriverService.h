// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- answers decoded requests for its clients: the
// card handles, the locks, which client registered what, and the checks that
// keep a client inside what it registered and what driver/AccessPolicy.h
// allows.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "driver/AccessPolicy.h"
#include "driver/Bus.h"
#include "driver/RequestDecoder.h"

namespace driverd {

constexpr uint32_t ServiceVersion = 1110;  // reads as 11.10

struct Answer {
    uint32_t Status = 0;
    RequestRecord Record{};
    uint32_t RecordSize = 0;      // 0: no record in the reply
    std::vector<uint8_t> Data;    // configuration word, bytes read
};

// The card handle a lock-check-only registration gives for a free card; it
// names no registration and is never handed out for one.
constexpr uint32_t LockCheckHandle = 0xFFFFFFFFu;

// What the service takes from its surroundings; tests give their own.
struct ServiceHooks {
    using Clock = std::chrono::steady_clock;
    std::function<Clock::time_point()> Now = [] { return Clock::now(); };
    Clock::duration Lapse = RegistrationLapse;
    // One line for the service's log (standard error by default).
    std::function<void(const std::string&)> Log;
};

class DriverService {
public:
    using ClientId = uint64_t;

    DriverService(Bus& bus, std::string versionText, ServiceHooks hooks = {});

    // A connection of the user `uid`, whom the per-user limits count.
    ClientId Connect(uint32_t uid);
    // Releases everything the client still has registered.
    void Disconnect(ClientId client);

    Answer Serve(ClientId client, const DecodedRequest& request);
    // The answer to a frame the decoder refused (but that keeps the connection).
    static Answer Refuse(Refusal why, const DecodedRequest& request);

    std::size_t Registrations() const { return cards_.size(); }
    // Where the card-handle counter stands, so a test can make it wrap.
    void SetNextCardHandleForTesting(uint32_t next) { nextCardHandle_ = next; }

private:
    struct Registration {
        ClientId Client;
        Function Card;
        std::vector<Resource> Resources;
        ServiceHooks::Clock::time_point LastUse;
        bool ToldHeld = false;  // the log has said once who holds it
    };
    struct ClientState {
        uint32_t Uid = 0;
        bool HaveLastInfo = false;
        bool LastInfoRefused = false;
        Location LastInfo;
        std::size_t Registrations = 0;
    };
    using Cards = std::map<uint32_t, Registration>;  // by card handle

    void Version(Answer& a);
    void Scan(Answer& a);
    void CardInfo(ClientId client, Answer& a);
    void Register(ClientId client, Answer& a);
    void Unregister(ClientId client, Answer& a);
    void ConfigDump(ClientId client, Answer& a);
    void Transfer(ClientId client, const DecodedRequest& request, Answer& a);
    uint32_t Move(Cards::iterator card, std::size_t index, uint64_t offset, const TransferRecord& t,
                  const DecodedRequest& request, Answer& a);
    bool FindCard(ClientId client, const CardResourceBlock& block, Function& card,
                  std::vector<Resource>& resources);
    Cards::iterator Holder(const Location& where);
    bool RegistrationAllowed(const ClientState& state) const;
    uint32_t NewCardHandle();
    void Release(Cards::iterator card);
    void Expire();
    void Say(const std::string& text) const;

    Bus& bus_;
    std::string versionText_;
    ServiceHooks hooks_;
    ClientId nextClient_ = 1;
    uint32_t nextCardHandle_ = 1;
    uint32_t nextInterruptHandle_ = 0x100;
    std::map<ClientId, ClientState> clients_;
    std::map<uint32_t, std::size_t> perUser_;  // registrations held by each uid
    Cards cards_;
    std::map<Location, EepromLines> eeproms_;  // by device: the part is one
};

// Resource items as the card-information reply carries them.
void FillResourceBlock(const std::vector<Resource>& resources, CardResourceBlock& block);

// "bb:ss.f" of a location, as the log names a function.
std::string LocationText(const Location& where);

}  // namespace driverd
