// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- answers decoded requests for its clients: the
// card handles, the locks, which client registered what, and the checks that
// keep a client inside what it registered and what driver/AccessPolicy.h
// allows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

class DriverService {
public:
    using ClientId = uint64_t;

    DriverService(Bus& bus, std::string versionText);

    ClientId Connect();
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
    };
    struct ClientState {
        bool HaveLastInfo = false;
        bool LastInfoRefused = false;
        Location LastInfo;
        std::size_t Registrations = 0;
    };

    void Version(Answer& a);
    void Scan(Answer& a);
    void CardInfo(ClientId client, Answer& a);
    void Register(ClientId client, Answer& a);
    void Unregister(ClientId client, Answer& a);
    void ConfigDump(Answer& a);
    void Transfer(ClientId client, const DecodedRequest& request, Answer& a);
    bool FindCard(ClientId client, const CardResourceBlock& block, Function& card,
                  std::vector<Resource>& resources);
    bool Registered(const Location& where) const;
    uint32_t NewCardHandle();
    uint32_t CheckWrite(const Registration& card, std::size_t index, uint64_t offset, const TransferRecord& t,
                        const uint8_t* data);
    void Release(std::map<uint32_t, Registration>::iterator card);

    Bus& bus_;
    std::string versionText_;
    ClientId nextClient_ = 1;
    uint32_t nextCardHandle_ = 1;
    uint32_t nextInterruptHandle_ = 0x100;
    std::map<ClientId, ClientState> clients_;
    std::map<uint32_t, Registration> cards_;  // by card handle
};

// Resource items as the card-information reply carries them.
void FillResourceBlock(const std::vector<Resource>& resources, CardResourceBlock& block);

}  // namespace driverd
