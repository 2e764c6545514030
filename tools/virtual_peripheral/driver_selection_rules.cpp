#include "driver_selection_rules.h"

namespace vperiph {

bool operator==(const StoredValue &a, const StoredValue &b)
{
    return a.present == b.present && (!a.present || (a.type == b.type && a.data == b.data));
}

StoredValue our_audio()
{
    constexpr std::uint32_t kString = 1; // REG_SZ
    return StoredValue{true, kString, {'v', 0, 'p', 0, 0, 0}};
}

SelectSteps select_steps(const SelectionRecord &record, const StoredValue &audio)
{
    SelectSteps steps;
    if (audio == our_audio()) {
        // Selected already; or ours before any selection kept anything, and
        // then ours is what there was before, to be given back as such.
        steps.keep = !record.kept;
        steps.result = steps.keep ? 1 : 0;
        return steps;
    }
    // Not ours, whatever the record says: Audio was never changed after it
    // was kept (an interrupted selection, or restore), or someone chose
    // another driver since. Either way this value is the one to give back.
    steps.keep = !record.kept || record.earlier != audio;
    steps.set_ours = true;
    steps.result = 1;
    return steps;
}

RestoreSteps restore_steps(const SelectionRecord &record, const StoredValue &audio)
{
    RestoreSteps steps;
    if (!record.exists)
        return steps;
    steps.drop_record = true;
    if (!record.kept) {
        // A selection that stopped before keeping anything never changed Audio.
        steps.result = 0;
        return steps;
    }
    if (audio == our_audio()) {
        steps.give_back = record.earlier != audio;
        steps.result = 1;
    } else {
        steps.result = audio == record.earlier ? 1 : 2;
    }
    return steps;
}

} // namespace vperiph
