#pragma once

#include <string>
#include <vector>

#include "fakes/FakeHost.h"

namespace support {

// "event path" of each announcement, in order: a compact view for comparing sequences.
inline std::vector<std::wstring> EventsOf(const fakes::AnnouncementLog& log) {
    std::vector<std::wstring> events;
    for (const auto& announcement : log.Entries()) {
        events.push_back(announcement.event + L" " + announcement.path);
    }
    return events;
}

}  // namespace support
