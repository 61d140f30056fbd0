#include <gtest/gtest.h>

#include "reopen/reopen_request.h"

using namespace std::string_literals;

namespace {

// The token of a request of either version, for the cases where the version does not matter.
std::optional<std::string> tokenOf(std::string_view line) {
    const std::optional<ReopenRequest> request = parseReopenRequest(line);
    return request ? std::optional(request->activationToken) : std::nullopt;
}

} // namespace

// What the running instance takes for a request: "reopen" alone, or with one token of
// printable ASCII; a token with a space or a control character in it, or anything else, is
// not a request at all, so that it never reaches the compositor as an activation token.
TEST(ReopenRequestTest, OnlyReopenWithAPrintableTokenIsARequest) {
    EXPECT_EQ(tokenOf("reopen"), "");
    EXPECT_EQ(tokenOf("reopen gnome-shell/Zorvant/2417-1-h_T5"), "gnome-shell/Zorvant/2417-1-h_T5");
    EXPECT_EQ(tokenOf("reopen ~!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}"),
              "~!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}");
    for (const std::string& notARequest :
         {"reopen a b"s, "reopen token "s, "reopen  token"s, "reopen\ttoken"s, "reopen tok\x01n"s,
          "reopen tok\x7f"s, "reopen tok\nen"s, "reopen tok\ren"s, "reopen tok\0en"s,
          "reopen caf\xc3\xa9"s, "reopen "s, "reopen"s + '\0', " reopen"s, "reopen\r"s, "REOPEN"s,
          "reopening"s, "reopenx token"s, ""s, "hello"s}) {
        EXPECT_EQ(tokenOf(notARequest), std::nullopt) << notARequest;
    }
}

// The line a launch sends parses back to its token. A token no request may carry is dropped
// rather than sent: the panel still comes up, which a request the instance refuses would not.
TEST(ReopenRequestTest, ALaunchSendsWhatTheInstanceTakes) {
    const std::string longest(maximumActivationTokenBytes, 'x');
    for (const std::string& token : {""s, "gnome-shell/Zorvant/2417-1-h_T5"s, longest}) {
        const std::string line = reopenRequestLine(token);
        ASSERT_EQ(line.back(), '\n');
        EXPECT_LE(line.size(), maximumReopenRequestBytes);
        EXPECT_EQ(tokenOf(std::string_view(line).substr(0, line.size() - 1)), token);
    }
    EXPECT_EQ(tokenOf("reopen " + longest + "x"), std::nullopt);
    for (const std::string& unfit : {"a b"s, "tab\there"s, longest + "x"})
        EXPECT_EQ(reopenRequestLine(unfit, 1), "reopen\n") << unfit;
}

// Each side tells the other's version from the line alone. A version 1 line is exactly what
// launchers before version 2 send, so an instance of today takes it; a version 2 line is one
// that such an instance refuses (it hangs up, which tells the launch to fall back), and never
// one it would take for a request with a strange token.
TEST(ReopenRequestTest, TheVersionTravelsInTheCommandBothWays) {
    EXPECT_EQ(reopenRequestLine("tok", 1), "reopen tok\n");
    EXPECT_EQ(reopenRequestLine({}, 1), "reopen\n");
    EXPECT_EQ(reopenRequestLine("tok"), "reopen/2 tok\n");
    EXPECT_EQ(reopenRequestLine({}), "reopen/2\n");

    EXPECT_EQ(parseReopenRequest("reopen"), (ReopenRequest{1, ""}));
    EXPECT_EQ(parseReopenRequest("reopen tok"), (ReopenRequest{1, "tok"}));
    EXPECT_EQ(parseReopenRequest("reopen/2"), (ReopenRequest{2, ""}));
    EXPECT_EQ(parseReopenRequest("reopen/2 tok"), (ReopenRequest{2, "tok"}));
    // A version this side does not speak is not a request: the sender falls back.
    for (const std::string& unknown : {"reopen/3"s, "reopen/3 tok"s, "reopen/"s, "reopen/2/"s,
                                       "reopen/22"s, "reopen/2  tok"s, "reopen/2 a b"s})
        EXPECT_EQ(parseReopenRequest(unknown), std::nullopt) << unknown;

    // How a version 1 instance reads a line: "reopen", or "reopen " and a token with no space.
    const auto versionOneTakes = [](std::string_view line) {
        return line == "reopen" || (line.starts_with("reopen ") && line.size() > 7 &&
                                    line.substr(7).find(' ') == std::string_view::npos);
    };
    for (const std::string& token : {""s, "tok"s}) {
        const std::string v1 = reopenRequestLine(token, 1), v2 = reopenRequestLine(token);
        EXPECT_TRUE(versionOneTakes(std::string_view(v1).substr(0, v1.size() - 1)));
        EXPECT_FALSE(versionOneTakes(std::string_view(v2).substr(0, v2.size() - 1)));
    }
    // A version 1 launcher compares the whole answer with "ok\n": only a version 1 request may
    // get that, and every answer fits what a launch reads.
    EXPECT_EQ(reopenAnswer, "ok\n");
    for (const std::string_view answer : {reopenAnswer, reopenAnswerV2, replacedAnswerV2}) {
        EXPECT_EQ(answer.find('\n'), answer.size() - 1);
        EXPECT_LE(answer.size(), maximumReopenAnswerBytes);
    }
    EXPECT_NE(reopenAnswerV2, reopenAnswer);
}
