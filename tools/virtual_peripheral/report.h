// The report's text. As a process ends it is written into room taken
// beforehand: nothing may allocate then (a thread the end stopped may hold
// the heap's lock). A new line of the report goes into put_report
// (report.cpp), with its room counted in kReportRoom.
#ifndef VPERIPH_REPORT_H
#define VPERIPH_REPORT_H

#include <cstddef>
#include <string>

#include "session.h"

namespace vperiph {

// What a report is written for: now (a reader asked), or as the process
// ends, when the calling thread is the one ending it, and `inside` is the
// call another thread was in when the end stopped it (null: none).
struct Moment {
    bool process_ending;
    DWORD ending_thread;
    const char *inside;
    DWORD inside_thread;
};

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

// Room for the longest report the limits allow: every output and input
// port's line (25 messages, each long one shortened), every answer's line,
// the kept faults, refused opens and lost replies, and a line for every
// handle and set that may be open.
constexpr std::size_t kReportRoom =
    4096 + 2 * 32768 + 2 * kMostPorts * 2048 + kMostAnswers * 96 +
    2 * (VP_KEPT_FAULTS + 1) * (kLineSize + 16) + (kMostOpenPorts + kMostOpenSets) * 256;

void render_report(FixedText &out, const Loaded &l, const Record &r, const Moment &at);
// The report of a process that ended while its first call was reading the
// description: nothing was recorded yet.
void render_unread(FixedText &out, const Moment &at);

// The report and the fault lines as they stand now, for the readers.
std::string report_text(const Loaded &l, const Record &r);
std::string faults_text(const Record &r);

} // namespace vperiph

#endif
