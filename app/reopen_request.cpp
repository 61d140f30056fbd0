#include "app/reopen_request.h"

#include <algorithm>

namespace {

constexpr std::string_view command = "reopen";

bool isTokenByte(char c) {
    return c > ' ' && c < 0x7f;
}

bool isValidToken(std::string_view token) {
    return !token.empty() && command.size() + 1 + token.size() < maximumReopenRequestBytes &&
           std::all_of(token.begin(), token.end(), isTokenByte);
}

} // namespace

std::optional<std::string> parseReopenRequest(std::string_view line) {
    if (line == command)
        return std::string();
    if (!line.starts_with(command) || line.size() <= command.size() || line[command.size()] != ' ')
        return std::nullopt;
    const std::string_view token = line.substr(command.size() + 1);
    if (!isValidToken(token))
        return std::nullopt;
    return std::string(token);
}

std::string reopenRequestLine(std::string_view token) {
    std::string line(command);
    if (isValidToken(token))
        line.append(" ").append(token);
    line.push_back('\n');
    return line;
}
