#include "model/docket_kind.h"

std::string_view rawValue(DocketKind kind) {
    switch (kind) {
    case DocketKind::legacy:
        return "legacy";
    case DocketKind::j:
        return "j";
    }
    return {};
}

std::optional<DocketKind> docketKindFromRawValue(std::string_view raw) {
    if (raw == "legacy")
        return DocketKind::legacy;
    if (raw == "j")
        return DocketKind::j;
    return std::nullopt;
}
