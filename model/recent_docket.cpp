#include "model/recent_docket.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "model/unicode_text.h"

namespace {

// nlohmann's messages start with a tag such as "[json.exception.parse_error.101] "; the rest
// is the readable part. A parse error quotes the bytes it last read, which in a damaged blob
// need not be UTF-8; the description is only ever printed, so it is made valid text.
std::string describe(const nlohmann::json::exception& error) {
    std::string text = error.what();
    if (const auto end = text.find("] ");
        text.starts_with("[json.exception.") && end != std::string::npos)
        text.erase(0, end + 2);
    return toValidUTF8(text);
}

std::string place(std::size_t index) {
    return "element " + std::to_string(index);
}

Failure memberFailure(std::size_t index, const char* member, const std::string& problem) {
    return Failure{place(index) + ": member \"" + member + "\" " + problem};
}

Expected<std::string> stringMember(const nlohmann::json& object, std::size_t index,
                                   const char* member) {
    const auto it = object.find(member);
    if (it == object.end())
        return memberFailure(index, member, "is missing");
    if (!it->is_string())
        return memberFailure(index, member,
                             std::string("must be a string, found ") + it->type_name());
    return it->get<std::string>();
}

Expected<RecentDocket> decodeOne(const nlohmann::json& element, std::size_t index) {
    if (!element.is_object())
        return Failure{place(index) + " must be an object, found " + element.type_name()};

    const auto kindText = stringMember(element, index, "kind");
    if (!kindText)
        return kindText.failure();
    const auto kind = docketKindFromRawValue(*kindText);
    if (!kind)
        return memberFailure(index, "kind",
                             "must be \"legacy\" or \"j\", found " +
                                 nlohmann::json(*kindText).dump(
                                     -1, ' ', false, nlohmann::json::error_handler_t::replace));

    const auto docketKey = stringMember(element, index, "docketKey");
    if (!docketKey)
        return docketKey.failure();
    const auto displayName = stringMember(element, index, "displayName");
    if (!displayName)
        return displayName.failure();

    const auto lastOpened = element.find("lastOpened");
    if (lastOpened == element.end())
        return memberFailure(index, "lastOpened", "is missing");
    if (!lastOpened->is_number())
        return memberFailure(index, "lastOpened",
                             std::string("must be a number, found ") + lastOpened->type_name());

    return RecentDocket(*kind, *docketKey, *displayName, lastOpened->get<double>());
}

} // namespace

RecentDocket::RecentDocket(DocketKind kind, std::string docketKey, std::string displayName,
                           double lastOpened)
    : m_kind(kind), m_docketKey(std::move(docketKey)), m_displayName(std::move(displayName)),
      m_lastOpened(lastOpened) {}

std::string RecentDocket::id() const {
    std::string id = m_docketKey;
    id += '-';
    id += rawValue(m_kind);
    return id;
}

bool RecentDocket::operator==(const RecentDocket& other) const {
    return m_kind == other.m_kind && m_lastOpened == other.m_lastOpened &&
           canonicallyEquivalent(m_docketKey, other.m_docketKey) &&
           canonicallyEquivalent(m_displayName, other.m_displayName);
}

Expected<std::string> encodeRecentDockets(const std::vector<RecentDocket>& dockets) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < dockets.size(); ++i) {
        const RecentDocket& docket = dockets[i];
        // JSON has no infinities or NaN; the encoder would quietly write null.
        if (!std::isfinite(docket.lastOpened()))
            return Failure{place(i) + ": member \"lastOpened\" is not a finite number"};
        array.push_back({{"kind", rawValue(docket.kind())},
                         {"docketKey", docket.docketKey()},
                         {"displayName", docket.displayName()},
                         {"lastOpened", docket.lastOpened()}});
    }
    try {
        return array.dump();
    } catch (const nlohmann::json::exception& error) {
        return Failure{describe(error)};
    }
}

Expected<std::vector<RecentDocket>> decodeRecentDockets(std::string_view json) {
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(json);
    } catch (const nlohmann::json::exception& error) {
        return Failure{describe(error)};
    }
    if (!parsed.is_array())
        return Failure{std::string("the data must be a JSON array, found ") + parsed.type_name()};

    std::vector<RecentDocket> dockets;
    dockets.reserve(parsed.size());
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        auto docket = decodeOne(parsed[i], i);
        if (!docket)
            return docket.failure();
        dockets.push_back(std::move(docket.value()));
    }
    return dockets;
}
