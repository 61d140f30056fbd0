#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "model/recent_docket.h"

TEST(RecentDocket, EqualityNeedsAllFourFieldsUpToCanonicalEquivalence) {
    const RecentDocket docket(DocketKind::legacy, "\u00c5", "Caf\u00e9", 10.25);
    EXPECT_EQ(docket, RecentDocket(DocketKind::legacy, "A\u030a", "Cafe\u0301", 10.25));
    EXPECT_NE(docket, RecentDocket(DocketKind::j, "\u00c5", "Caf\u00e9", 10.25));
    EXPECT_NE(docket, RecentDocket(DocketKind::legacy, "A", "Caf\u00e9", 10.25));
    EXPECT_NE(docket, RecentDocket(DocketKind::legacy, "\u00c5", "Cafe", 10.25));
    EXPECT_NE(docket, RecentDocket(DocketKind::legacy, "\u00c5", "Caf\u00e9", 10.5));
}

TEST(RecentDocket, EncodesCompactJSONWhoseTimesReadBackExactly) {
    std::vector<RecentDocket> list{RecentDocket(DocketKind::j, "1", "J1 \"Q\"", 786715200.25),
                                   RecentDocket(DocketKind::legacy, "7", "caf\u00e9", -3)};
    EXPECT_EQ(encodeRecentDockets(list).value(),
              R"([{"kind":"j","docketKey":"1","displayName":"J1 \"Q\"","lastOpened":786715200.25},)"
              R"({"kind":"legacy","docketKey":"7","displayName":"café","lastOpened":-3.0}])");
    for (const double time : {0.1, 1.0 / 3.0, std::nextafter(786715200.0, 1e10), -978307200.000001,
                              std::numeric_limits<double>::denorm_min(), 1.7e308})
        list.emplace_back(DocketKind::j, "5", "J000005", time);
    // Equality compares the times exactly. Integral times, any member order and extra members
    // are read by the folder model's start-up test.
    EXPECT_EQ(decodeRecentDockets(encodeRecentDockets(list).value()).value(), list);
}

// The members are checked in the order kind, docketKey, displayName, lastOpened.
TEST(RecentDocket, DecodingFailsNamingTheElementAndTheMember) {
    const std::string good = R"({"kind":"j","docketKey":"1","displayName":"a","lastOpened":1})";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"[{}]", R"(element 0: member "kind" is missing)"},
        {"[" + good + R"(,{"kind":"J"}])",
         R"(element 1: member "kind" must be "legacy" or "j", found "J")"},
        {R"([{"kind":"j","docketKey":null}])",
         R"(element 0: member "docketKey" must be a string, found null)"},
        {R"([{"kind":"j","docketKey":"1","displayName":"a","lastOpened":"1"}])",
         R"(element 0: member "lastOpened" must be a number, found string)"},
        {"[" + good + "," + good + ",[]]", "element 2 must be an object, found array"},
        // A record without its time fails, and the list with it: it is not read as time 0.
        {"[" + good + R"(,{"kind":"j","docketKey":"2","displayName":"b"}])",
         R"(element 1: member "lastOpened" is missing)"},
        {good, "the data must be a JSON array, found object"},
        {"not json", "parse error at line 1, column 2: syntax error while parsing value - "
                     "invalid literal; last read: 'no'"},
        // The message quotes the damaged bytes, made valid text for the log.
        {"[{\"kind\":\"caf\xe9\"}]",
         "parse error at line 1, column 15: syntax error while parsing value - invalid string: "
         "ill-formed UTF-8 byte; last read: '\"caf\xEF\xBF\xBD\"'"},
    };
    for (const auto& [json, message] : cases) {
        const auto decoded = decodeRecentDockets(json);
        ASSERT_FALSE(decoded.ok()) << json;
        EXPECT_EQ(decoded.failure().description, message) << json;
    }
}
