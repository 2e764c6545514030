// Handle values of one kind (port handles, device sets), however long a
// host runs: always inside their own range, so that a value never turns into
// INVALID_HANDLE_VALUE, null or a value of the other kind; never a value
// still live. Platform-free.
#ifndef VPERIPH_HANDLE_SPACE_H
#define VPERIPH_HANDLE_SPACE_H

#include <cstdint>

namespace vperiph {

struct HandleSpace {
    std::uintptr_t first;
    std::uint32_t size;       // values first .. first + size - 1
    std::uint64_t issued = 0; // 64 bits: no run lasts long enough to wrap it

    // The value the next handle gets: in order, and once every value was
    // issued, the next one not live (live must be false for some value,
    // which holds while fewer than `size` are live).
    template <typename Live> std::uintptr_t next(Live live) const
    {
        std::uint64_t n = issued;
        while (live(value_at(n)))
            ++n;
        return value_at(n);
    }

    // Counts a value handed out by next(); the values it skipped count too.
    void take(std::uintptr_t value)
    {
        while (value_at(issued) != value)
            ++issued;
        ++issued;
    }

    // Whether a value that is not live now was ever handed out: a released
    // handle is told from one that never existed.
    bool was_issued(std::uintptr_t value) const
    {
        return value >= first && value - first < size &&
               (issued >= size || value - first < issued);
    }

private:
    std::uintptr_t value_at(std::uint64_t n) const { return first + static_cast<std::uintptr_t>(n % size); }
};

} // namespace vperiph

#endif
