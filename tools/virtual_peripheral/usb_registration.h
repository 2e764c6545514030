// The USB entries of a description as device instances in the registry of
// the Wine prefix, where Wine's own setupapi lists them (usb_registration.cpp).
#ifndef VPERIPH_USB_REGISTRATION_H
#define VPERIPH_USB_REGISTRATION_H

#include <string>

#include "description.h"

namespace vperiph {

// Replaces what an earlier registration added with the entries of `d`,
// refusing a description with items only the stand-in setupapi can present.
// Returns the number of instances added, or -1 with the message.
int register_description(const Description &d, std::string &message);

// Removes every marked instance key, then every marked key left empty.
// Returns the number of instances removed, or -1 with the message.
int remove_marked(std::string &message);

} // namespace vperiph

#endif
