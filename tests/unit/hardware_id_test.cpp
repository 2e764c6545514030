#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware_id.h"

using tarnwick::HardwareIdShape;
using tarnwick::UsbIds;

namespace {

// UTF-16LE bytes of a multi-string, cut to `size` bytes when given.
std::vector<unsigned char> wide(const std::u16string &s, std::size_t size = std::string::npos)
{
    std::vector<unsigned char> out;
    for (char16_t c : s) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (size != std::string::npos)
        out.resize(size);
    return out;
}

} // namespace

TEST(HardwareId, ExtractsTextsFromTheFirstStringOnly)
{
    using S = HardwareIdShape;
    const std::u16string nul(1, u'\0');
    struct Case {
        std::vector<unsigned char> data;
        S shape;
        const char *vid, *pid;
    } cases[] = {
        {wide(u"USB\\VID_1A2B&PID_3C4D&REV_0100" + nul + u"USB\\VID_1A2B&PID_3C4D" + nul), S::ids_found, "1A2B", "3C4D"},
        {wide(u"USB\\VID_1A2B&PID_3C4D&MI_01" + nul), S::ids_found, "1A2B", "3C4D"},
        {wide(u"USB\\VID_1a2b&PID_3c4d" + nul), S::ids_found, "1a2b", "3c4d"},
        {wide(u"USB\\VID_1A2B&PID_3C4D"), S::ids_found, "1A2B", "3C4D"},       // no terminator
        {wide(u"USB\\VID_1A2B&PID_3C4D" + nul, 42), S::ids_found, "1A2B", "3C4D"},
        {wide(u"USB\\VID_1A2B&PID_3C4D" + nul, 41), S::cut_short, "", ""},     // odd, ends inside
        {wide(u"USB\\VID_1A2B&PID_3C" + nul), S::cut_short, "", ""},
        {wide(u"USB\\VID_1A2B&PID_3C4D", 20), S::cut_short, "", ""},
        {wide(u"USB\\VID_1A" + nul + u"2B&PID_3C4D" + nul), S::cut_short, "", ""},
        {wide(u"USB\\ROOT_HUB30&VID1A2B&PID3C4D" + nul), S::no_vid_prefix, "", ""},
        {wide(u"USB\\VID_123&PID_4567" + nul), S::no_pid_prefix, "", ""},
        {wide(u"USB\\CLASS_01" + nul + u"USB\\VID_1A2B&PID_3C4D" + nul), S::no_v, "", ""},
        {wide(u"usb\\vid_1a2b&pid_3c4d" + nul), S::no_v, "", ""},
        {wide(u""), S::no_v, "", ""},
        {wide(u"USB\\V"), S::cut_short, "", ""},
        // Wide characters keep their low byte only.
        {wide(u"USB\\VID_\u0131A2B&PID_3C4D" + nul), S::ids_found, "1A2B", "3C4D"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        UsbIds ids{};
        // Exactly sized storage: a read past the delivered bytes is caught.
        std::vector<unsigned char> data(c.data);
        EXPECT_EQ(parse_hardware_id(data.empty() ? nullptr : data.data(), data.size(), ids),
                  c.shape)
            << "case " << i;
        if (c.shape == S::ids_found) {
            EXPECT_EQ(std::string(ids.vid, 4), c.vid) << "case " << i;
            EXPECT_EQ(std::string(ids.pid, 4), c.pid) << "case " << i;
        }
    }
}
