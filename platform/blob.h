#pragma once

#include <cstdint>
#include <vector>

// An opaque byte blob, as kept in the user defaults (bookmarks, the recents JSON).
using Blob = std::vector<std::uint8_t>;
