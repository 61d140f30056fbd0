#include <gtest/gtest.h>

#include "app/reopen_request.h"

using namespace std::string_literals;

// What the running instance takes for a request: "reopen" alone, or with one token of
// printable ASCII; a token with a space or a control character in it, or anything else, is
// not a request at all, so that it never reaches the compositor as an activation token.
TEST(ReopenRequestTest, OnlyReopenWithAPrintableTokenIsARequest) {
    EXPECT_EQ(parseReopenRequest("reopen"), "");
    EXPECT_EQ(parseReopenRequest("reopen gnome-shell/Zorvant/2417-1-h_T5"),
              "gnome-shell/Zorvant/2417-1-h_T5");
    EXPECT_EQ(parseReopenRequest("reopen ~!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}"),
              "~!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}");
    for (const std::string& notARequest :
         {"reopen a b"s, "reopen token "s, "reopen  token"s, "reopen\ttoken"s, "reopen tok\x01n"s,
          "reopen tok\x7f"s, "reopen tok\nen"s, "reopen tok\ren"s, "reopen tok\0en"s,
          "reopen caf\xc3\xa9"s, "reopen "s, "reopen"s + '\0', " reopen"s, "reopen\r"s, "REOPEN"s,
          "reopening"s, "reopenx token"s, ""s, "hello"s}) {
        EXPECT_EQ(parseReopenRequest(notARequest), std::nullopt) << notARequest;
    }
}

// The line a launch sends parses back to its token. A token no request may carry is dropped
// rather than sent: the panel still comes up, which a request the instance refuses would not.
TEST(ReopenRequestTest, ALaunchSendsWhatTheInstanceTakes) {
    const std::string longest(maximumReopenRequestBytes - 8, 'x');
    for (const std::string& token : {""s, "gnome-shell/Zorvant/2417-1-h_T5"s, longest}) {
        const std::string line = reopenRequestLine(token);
        ASSERT_EQ(line.back(), '\n');
        EXPECT_LE(line.size(), maximumReopenRequestBytes);
        EXPECT_EQ(parseReopenRequest(std::string_view(line).substr(0, line.size() - 1)), token);
    }
    EXPECT_EQ(parseReopenRequest("reopen " + longest + "x"), std::nullopt);
    for (const std::string& unfit : {"a b"s, "tab\there"s, longest + "x"})
        EXPECT_EQ(reopenRequestLine(unfit), "reopen\n") << unfit;
}
