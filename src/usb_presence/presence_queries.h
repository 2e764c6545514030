#ifndef TARNWICK_PRESENCE_QUERIES_H
#define TARNWICK_PRESENCE_QUERIES_H

#include <cstddef>
#include <cstdint>

namespace tarnwick {

constexpr std::size_t kResultSlots = 16;

// Process-wide, zero at load; every multi query rewrites all sixteen.
extern std::uint8_t usb_matching_results[kResultSlots];

} // namespace tarnwick

#endif
