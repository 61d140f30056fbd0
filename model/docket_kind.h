#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The two families of docket folder. Stored and serialised by their raw values.
enum class DocketKind { legacy, j };

// "legacy" or "j".
std::string_view rawValue(DocketKind kind);

// Exact, case-sensitive: "Legacy", "J" and "" are not kinds.
std::optional<DocketKind> docketKindFromRawValue(std::string_view raw);

template <> struct std::hash<DocketKind> {
    std::size_t operator()(DocketKind kind) const noexcept {
        return std::hash<std::string_view>{}(rawValue(kind));
    }
};
