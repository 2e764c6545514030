// The driver Wine's own winmm loads (midi_driver.cpp): what it decides of a
// description as the description is loaded.
#ifndef VPERIPH_MIDI_DRIVER_H
#define VPERIPH_MIDI_DRIVER_H

#include <string>

#include "description.h"

namespace vperiph {

// Why the driver cannot present `d` (the items only the stand-in winmm can
// present, named by their lines), or empty when it can present all of it.
std::string driver_cannot_present(const Description &d);

} // namespace vperiph

#endif
