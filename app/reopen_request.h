#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The one request a later launch sends to the running instance: the line "reopen", or
// "reopen <activation token>" when the desktop gave the launch a token, then a line feed.
// A token is one or more bytes of printable ASCII other than the space, as the activation
// protocols make them; a line is at most maximumReopenRequestBytes long, line feed included.

inline constexpr std::size_t maximumReopenRequestBytes = 4096;

// What the running instance answers to a request it took, so that a launch can tell an
// instance that took the request from one that only let it connect.
inline constexpr std::string_view reopenAnswer = "ok\n";

// The activation token of a request line given without its line feed: empty for a bare
// "reopen", none for anything that is not a request. No whitespace is tolerated around or
// inside the words.
std::optional<std::string> parseReopenRequest(std::string_view line);

// The request line for a token, line feed included. A token that no request may carry (empty,
// too long, or holding a space or a control character) is left out: the request still
// brings the panel up, only without the token.
std::string reopenRequestLine(std::string_view token);
