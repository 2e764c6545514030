// Selecting the virtual peripheral's driver as the Wine prefix's audio
// driver, and giving back what was selected before (driver_selection.cpp).
#ifndef VPERIPH_DRIVER_SELECTION_H
#define VPERIPH_DRIVER_SELECTION_H

#include <string>

namespace vperiph {

// 1 when it selected, 0 when it was selected already, -1 with the message.
int select_driver(std::string &message);

// 1 when it gave the earlier value back, 2 when Audio was changed since to
// another driver and is left so, 0 when nothing was selected, -1 with the
// message.
int restore_driver(std::string &message);

} // namespace vperiph

#endif
