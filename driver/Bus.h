// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the interface every bus backend implements.
//
// A backend answers for one PCI bus: the simulated one read from a JSON file
// (SimulatedBus) or this machine's (RealBus, libpci and sysfs). The service
// (DriverService) owns everything the clients see: handles, locks, which
// client registered what, the range checks and the access policy
// (AccessPolicy.h). A backend only reports what
// the bus holds and moves bytes, so it stays small. The contract:
//
// - Every call comes from the service's one thread; none may throw.
// - Scan() lists every function once, in the order bus, slot, function;
//   one removed or replaced since the start is no longer listed.
//   The service cuts the list to what the reply holds.
// - CardInfo() gives a function's resources in the order the card-information
//   reply lists them; false when the function is unknown or refuses.
// - ConfigSize() is 256 or 4096 (extended), 0 for an unknown function.
//   ReadConfig() reads 1 to 4 bytes with offset + bytes <= ConfigSize(); the
//   service checks that first. Configuration space is never written, so a
//   backend has no way to.
// - Register() and Unregister() are hooks called when a client claims or
//   releases a function, so a backend can refuse (a simulated fault, a device
//   gone or replaced since the start, one it cannot claim). Locks and card
//   handles are the service's.
// - Transfer() moves `bytes` bytes in units of unitBytes (1, 2 or 4) at
//   `offset` into resource `index` of a registered function, reading into or
//   writing from `data`. With autoIncrement false every unit goes to the same
//   offset. The service has already checked that the whole range lies inside
//   the resource, that the offset is a multiple of the unit, that a
//   registered client asks and that the policy allows it. The backend checks
//   at every transfer that the function is still the one registered: Gone
//   when it was removed or replaced, or its mapping faulted (the service then
//   ends the registration); Failed when the bus refused this one access.
//   Nothing a backend holds (descriptor, mapping) is ever handed to a client.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace driverd {

struct Location {
    uint32_t Bus = 0;
    uint32_t Slot = 0;
    uint32_t Function = 0;
    auto operator<=>(const Location&) const = default;
};

struct Function {
    Location Where;
    uint16_t VendorId = 0;
    uint16_t DeviceId = 0;
};

enum class ResourceKind { Memory, IO, Interrupt };

struct Resource {
    ResourceKind Kind = ResourceKind::Memory;
    uint32_t Bar = 0;         // memory and I/O
    uint64_t Address = 0;     // memory: physical address; I/O: port
    uint64_t Length = 0;      // memory and I/O
    uint32_t Number = 0;      // interrupt
    bool operator==(const Resource&) const = default;
};

enum class RegisterAnswer { Granted, Refused, NoHandle };
enum class TransferResult { Done, Failed, Gone };

class Bus {
public:
    virtual ~Bus() = default;
    virtual std::vector<Function> Scan() = 0;
    virtual bool CardInfo(const Location& where, std::vector<Resource>& resources) = 0;
    virtual uint32_t ConfigSize(const Location& where) = 0;
    virtual bool ReadConfig(const Location& where, uint32_t offset, uint32_t bytes, uint32_t& value) = 0;
    virtual RegisterAnswer Register(const Location& where) = 0;
    virtual void Unregister(const Location& where) = 0;
    virtual TransferResult Transfer(const Location& where, std::size_t index, uint64_t offset, uint32_t unitBytes,
                                    bool isRead, bool autoIncrement, uint8_t* data, uint32_t bytes) = 0;
};

// The backends. Each returns nullptr and says why in `error` when it cannot
// start; nothing is served from a half-read bus.
std::unique_ptr<Bus> OpenSimulatedBus(const std::string& path, std::string& error);
// The same, with what kind of file it was and what to know about replaying
// it (lspci cannot give a PLX bridge's EEPROM, say) in `notes`.
std::unique_ptr<Bus> OpenSimulatedBus(const std::string& path, std::string& error, std::vector<std::string>& notes);
// Implemented in RealBus.cpp, quorrin-driverd's --real. `sysfsPci` is the
// folder that holds `devices` (tests give a stand-in tree).
std::unique_ptr<Bus> OpenRealBus(std::string& error, const std::string& sysfsPci = "/sys/bus/pci");

}  // namespace driverd
