// What selecting the driver and giving the earlier one back do, for every
// state the prefix's registry can be found in, including the states an
// interrupted run leaves (driver_selection_rules.cpp). Platform-free: the
// registry itself is read and written in driver_selection.cpp.
#ifndef VPERIPH_DRIVER_SELECTION_RULES_H
#define VPERIPH_DRIVER_SELECTION_RULES_H

#include <cstdint>
#include <vector>

namespace vperiph {

// A registry value as stored: its type and exact bytes, or none.
struct StoredValue {
    bool present = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

bool operator==(const StoredValue &a, const StoredValue &b);
inline bool operator!=(const StoredValue &a, const StoredValue &b) { return !(a == b); }

// The driver's name as the selection writes it: "vp" as a REG_SZ with its
// terminator. Another type or spelling is someone else's value.
StoredValue our_audio();

// The selection's record, HKCU\Software\Tarnwick\VirtualPeripheral.
struct SelectionRecord {
    bool exists = false; // the key is there
    bool kept = false;   // it holds the value Audio had before (or that it had none)
    StoredValue earlier; // that value, when kept
};

struct SelectSteps {
    bool keep = false;     // write the current Audio into the record as the earlier value
    bool set_ours = false; // then write our_audio() into Audio
    int result = 0;        // 1 when it selected, 0 when it was selected already
};

// `audio` is the current Audio value. A record is only ever kept before Audio
// is changed, so that an interruption at any point leaves the earlier value
// either in Audio or in the record.
SelectSteps select_steps(const SelectionRecord &record, const StoredValue &audio);

struct RestoreSteps {
    bool give_back = false;   // write the kept value into Audio (remove Audio when none was)
    bool drop_record = false; // remove the record, and the keys it made once empty
    int result = 0; // 1 given back (or back already), 2 Audio was changed since by someone
                    // else and is left as it is, 0 nothing was selected
};

RestoreSteps restore_steps(const SelectionRecord &record, const StoredValue &audio);

} // namespace vperiph

#endif
