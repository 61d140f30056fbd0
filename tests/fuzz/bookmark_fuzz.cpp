// A stored bookmark, as any bytes: it resolves or fails cleanly. One that resolves names an
// absolute path, the very bytes it carries, and a bookmark made anew there resolves to the
// same folder and is not stale.
#include <cstdint>

#include "fuzz_check.h"
#include "platform/bookmark.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Blob stored(data, data + size);
    const auto resolved = resolveBookmark(stored);
    if (!resolved)
        return 0;
    constexpr std::size_t header = 4 + 1 + 8 + 8 + 4;
    const std::string& path = resolved->location.native();
    fuzzCheck(resolved->location.is_absolute(), "not absolute: " + path);
    fuzzCheck(stored.size() >= header && std::string(stored.begin() + header, stored.end()) == path,
              "the location is not the path stored: " + path);
    const auto made = makeBookmark(resolved->location);
    fuzzCheck(made.ok(), "cannot bookmark a folder that resolved: " + path);
    const auto again = resolveBookmark(*made);
    fuzzCheck(again.ok() && again->location == resolved->location && !again->isStale,
              "a fresh bookmark does not resolve to its folder: " + path);
    return 0;
}
