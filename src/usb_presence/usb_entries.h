// The walk over present USB device entries (talks to SetupAPI) as the
// queries and the command-line tool see it.
#ifndef TARNWICK_USB_ENTRIES_H
#define TARNWICK_USB_ENTRIES_H

#include <cstddef>

#include "hardware_id.h"

namespace tarnwick {

struct UsbEntry {
    unsigned index;
    bool property_read;            // false: the hardware ID could not be read
    const unsigned char *property; // the bytes delivered, valid during the visit
    std::size_t property_size;
    HardwareIdShape shape;         // meaningful when property_read
    UsbIds ids;                    // meaningful when shape is ids_found
};

using UsbEntryVisitor = void (*)(const UsbEntry &entry, void *context);

// Builds the list of present USB entries once, visits every member in index
// order and releases the list. False when the list could not be built.
bool walk_usb_entries(UsbEntryVisitor visit, void *context);

} // namespace tarnwick

#endif
