// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI names -- pci.ids through libpci's pci_lookup_name, the names
// lspci prints. Only the local list is asked: no udev database, no network.
#include <cstdlib>
#include <memory>

extern "C" {
#include <pci/pci.h>
}

#include "pcinames/PciNames.h"

namespace {

void Quiet(char*, ...) {}
// Called only when libpci runs out of memory.
// The GNU form: clang takes it as part of the type libpci declares.
__attribute__((noreturn)) void Fatal(char*, ...) {
    std::abort();
}

struct AccessDeleter {
    void operator()(pci_access* a) const { pci_cleanup(a); }
};

// One access for the process, made at the first lookup; the list is read
// once, on that lookup.
pci_access* Access() {
    static const std::unique_ptr<pci_access, AccessDeleter> access = [] {
        pci_access* a = pci_alloc();
        if (a) {
            // pci_alloc leaves the reporters to pci_init, which we do not
            // need: a missing or damaged list only means no names.
            a->warning = a->debug = Quiet;
            a->error = Fatal;
            a->id_lookup_mode = 0;  // no cache of network answers in the home folder
        }
        return std::unique_ptr<pci_access, AccessDeleter>(a);
    }();
    return access.get();
}

constexpr int Flags = PCI_LOOKUP_NO_NUMBERS | PCI_LOOKUP_NO_HWDB;

}  // namespace

namespace pcinames {

std::string VendorName(uint32_t vendor) {
    char name[256];
    pci_access* a = Access();
    const char* found =
        a ? pci_lookup_name(a, name, sizeof name, PCI_LOOKUP_VENDOR | Flags, int(vendor & 0xFFFF)) : nullptr;
    return found ? found : "";
}

std::string DeviceName(uint32_t vendor, uint32_t device) {
    char name[256];
    pci_access* a = Access();
    const char* found = a ? pci_lookup_name(a, name, sizeof name, PCI_LOOKUP_DEVICE | Flags,
                                            int(vendor & 0xFFFF), int(device & 0xFFFF))
                          : nullptr;
    return found ? found : "";
}

}  // namespace pcinames
