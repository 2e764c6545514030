// Where the report goes (report_file.cpp says how it is chosen).
#ifndef VPERIPH_REPORT_FILE_H
#define VPERIPH_REPORT_FILE_H

namespace vperiph {

// Takes the report's slot (process.h) when the peripheral is first used,
// under the lock: the file, and the room the report is written into.
void reserve_report();

// Writes the report, as the process ends (process_ending) or as the DLL is
// let go; once.
void write_report(bool process_ending);

} // namespace vperiph

#endif
