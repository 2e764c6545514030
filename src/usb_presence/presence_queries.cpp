#include "presence_queries.h"

#include "tarnwick.h"
#include "usb_entries.h"

namespace tarnwick {

std::uint8_t usb_matching_results[kResultSlots] = {};

namespace {

// Counts stop at 255: a wrapped count would report a present device as absent.
void add_saturating(std::uint8_t &count)
{
    if (count != 0xFF)
        ++count;
}

struct Block {
    char vid[kResultSlots][kIdTextSize];
    char pid[kIdTextSize];
    std::uint8_t counts[kResultSlots];
    std::size_t slots; // 1 for the single query
};

void count_entry(const UsbEntry &entry, void *context)
{
    auto &block = *static_cast<Block *>(context);
    if (!entry.property_read || entry.shape != HardwareIdShape::ids_found ||
        !id_text_equals(entry.ids.pid, block.pid))
        return;
    for (std::size_t s = 0; s < block.slots; ++s)
        if (id_text_equals(entry.ids.vid, block.vid[s]))
            add_saturating(block.counts[s]);
}

// One walk of the device list for all slots of the block.
void count_block(std::uint16_t first_vid, std::uint16_t pid, std::size_t slots, Block &block)
{
    block = Block{};
    block.slots = slots;
    for (std::size_t s = 0; s < slots; ++s)
        render_id_text(static_cast<std::uint16_t>(first_vid + s), block.vid[s]);
    render_id_text(pid, block.pid);
    // A list that cannot be built counts as empty: the counts stay zero.
    (void)walk_usb_entries(count_entry, &block);
}

} // namespace

} // namespace tarnwick

using namespace tarnwick;

extern "C" int TARNWICK_CALL compare_usb_device_id_mathing(int vid, int pid)
{
    Block block;
    count_block(static_cast<std::uint16_t>(vid), static_cast<std::uint16_t>(pid), 1, block);
    return block.counts[0];
}

extern "C" int TARNWICK_CALL compare_usb_device_id_mathing_multi(int vid, int pid)
{
    Block block;
    count_block(static_cast<std::uint16_t>(vid & 0xFFF0), static_cast<std::uint16_t>(pid),
                kResultSlots, block);
    int found = 0;
    for (std::size_t s = 0; s < kResultSlots; ++s) {
        usb_matching_results[s] = block.counts[s];
        if (block.counts[s] != 0)
            ++found;
    }
    return found;
}

extern "C" int TARNWICK_CALL get_usb_device_matching_result(int index)
{
    const unsigned slot = static_cast<unsigned>(index) & 0xFFu;
    return slot < kResultSlots ? usb_matching_results[slot] : 0;
}
