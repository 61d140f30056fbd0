#pragma once

#include <string>
#include <vector>

#include "model/docket_kind.h"
#include "platform/expected.h"

// One remembered opening of a docket. Its fields are fixed when it is made.
class RecentDocket {
public:
    RecentDocket(DocketKind kind, std::string docketKey, std::string displayName,
                 double lastOpened);

    DocketKind kind() const { return m_kind; }
    const std::string& docketKey() const { return m_docketKey; }
    const std::string& displayName() const { return m_displayName; }
    // Seconds since 2001-01-01 00:00:00 UTC.
    double lastOpened() const { return m_lastOpened; }

    // docketKey + "-" + the kind's raw value, such as "123-j". Records of the same docket
    // share it whatever their name and time.
    std::string id() const;

    // All four fields equal; texts compare by canonical equivalence.
    bool operator==(const RecentDocket& other) const;

private:
    DocketKind m_kind;
    std::string m_docketKey;
    std::string m_displayName;
    double m_lastOpened;
};

// The stored form of the recents list: a compact UTF-8 JSON array of objects with the
// members "kind", "docketKey", "displayName" and "lastOpened".
Expected<std::string> encodeRecentDockets(const std::vector<RecentDocket>& dockets);

// Strict: every element must be an object with all four members of the right JSON types
// and a known kind; other members are ignored. The failure says which element and member.
Expected<std::vector<RecentDocket>> decodeRecentDockets(std::string_view json);
