#include "reopen/reopen_request.h"

#include <algorithm>

namespace {

constexpr std::string_view commandV1 = "reopen";
constexpr std::string_view commandV2 = "reopen/2";

bool isTokenByte(char c) {
    return c > ' ' && c < 0x7f;
}

bool isValidToken(std::string_view token) {
    return !token.empty() && token.size() <= maximumActivationTokenBytes &&
           std::all_of(token.begin(), token.end(), isTokenByte);
}

} // namespace

std::optional<ReopenRequest> parseReopenRequest(std::string_view line) {
    for (const auto& [command, version] : {std::pair{commandV1, 1}, std::pair{commandV2, 2}}) {
        if (line == command)
            return ReopenRequest{version, {}};
        if (!line.starts_with(command) || line.size() <= command.size() ||
            line[command.size()] != ' ')
            continue;
        const std::string_view token = line.substr(command.size() + 1);
        if (!isValidToken(token))
            return std::nullopt;
        return ReopenRequest{version, std::string(token)};
    }
    return std::nullopt;
}

std::string reopenRequestLine(std::string_view token, int version) {
    std::string line(version >= 2 ? commandV2 : commandV1);
    if (isValidToken(token))
        line.append(" ").append(token);
    line.push_back('\n');
    return line;
}
