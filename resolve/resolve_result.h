#pragma once

#include <filesystem>
#include <string>
#include <variant>

#include "model/docket_kind.h"

// The outcome of resolving a typed number: nothing (with the message for the user), one
// folder, or a Legacy and a J folder for the same docket.
namespace resolve_result {

struct none {
    std::string message;
    bool operator==(const none&) const = default;
};

// Whether each location is a folder comes from the listing that found it, so that opening it
// never has to ask the file system again.
struct one {
    std::filesystem::path url;
    DocketKind kind;
    std::string docketKey;
    bool isFolder = true;
    bool operator==(const one&) const = default;
};

struct conflict {
    std::filesystem::path legacy;
    std::filesystem::path j;
    std::string docketKey;
    bool legacyIsFolder = true;
    bool jIsFolder = true;
    bool operator==(const conflict&) const = default;
};

} // namespace resolve_result

using ResolveResult =
    std::variant<resolve_result::none, resolve_result::one, resolve_result::conflict>;
