// The report, written into room taken beforehand: as a process ends,
// nothing may allocate (a thread the end stopped may hold the heap's lock).
#ifndef VPERIPH_RECORD_H
#define VPERIPH_RECORD_H

#include <cstddef>

#include "state.h"

namespace vperiph {

class FixedText {
public:
    FixedText(char *data, std::size_t room) : data_(data), room_(room) {}
    // Appends what fits; returns how much did.
    std::size_t append(const char *s, std::size_t n);
    std::size_t size() const { return size_; }
    bool cut() const { return cut_; }

private:
    char *data_;
    std::size_t room_, size_ = 0;
    bool cut_ = false;
};

// Room for the longest report the limits allow: every port's line, the kept
// faults, and a line for every handle and set that may be open.
constexpr std::size_t kReportRoom =
    4096 + 2 * 32768 + kMostPorts * 512 + (VP_KEPT_FAULTS + 1) * (kLineSize + 16) +
    (kMostOpenPorts + kMostOpenSets) * 192;

void render_report(FixedText &out, const Loaded &l, const Record &r, const Moment &at);
// The report of a process that ended while its first call was reading the
// description: nothing was recorded yet.
void render_unread(FixedText &out, const Moment &at);

} // namespace vperiph

#endif
