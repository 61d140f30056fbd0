#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The one request a later launch sends to the running instance, and the answers to it.
//
// Version 1, what every launcher so far sends: the line "reopen", or "reopen <token>" when the
// desktop gave the launch an activation token. The instance answers "ok" once it took it.
// Version 2 names itself in the command, "reopen/2" or "reopen/2 <token>", which a version 1
// instance refuses by hanging up: a launch then knows to fall back to version 1. A version 2
// instance answers "ok/2", or "replaced/2" when its own files were replaced on disk since it
// started; it then shows nothing and ends, for the launch to start the new files in its place.
//
// A token is one or more bytes of printable ASCII other than the space, as the activation
// protocols make them, at most maximumActivationTokenBytes long: what fits a version 1 line in
// the 4096 bytes that version 1 instances take.

inline constexpr std::size_t maximumActivationTokenBytes = 4088;
inline constexpr int newestReopenVersion = 2;
// The longest line of any version, line feed included: "reopen/2 <token>\n".
inline constexpr std::size_t maximumReopenRequestBytes = 9 + maximumActivationTokenBytes + 1;

struct ReopenRequest {
    int version = newestReopenVersion;
    std::string activationToken;
    bool operator==(const ReopenRequest&) const = default;
};

// What the running instance answers to a version 1 request it took, so that a launch can tell
// an instance that took the request from one that only let it connect. Older launchers compare
// the whole answer with it: a version 1 request gets exactly this, whatever the instance speaks.
inline constexpr std::string_view reopenAnswer = "ok\n";
inline constexpr std::string_view reopenAnswerV2 = "ok/2\n";
inline constexpr std::string_view replacedAnswerV2 = "replaced/2\n";
// The longest answer of any version, line feed included.
inline constexpr std::size_t maximumReopenAnswerBytes = 64;

// The request in a line given without its line feed; none for anything that is not a request
// of a version this side speaks. No whitespace is tolerated around or inside the words.
std::optional<ReopenRequest> parseReopenRequest(std::string_view line);

// The request line, line feed included. A token that no request may carry (empty, too long, or
// holding a space or a control character) is left out: the request still brings the panel up,
// only without the token.
std::string reopenRequestLine(std::string_view token, int version = newestReopenVersion);
