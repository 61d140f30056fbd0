#include "platform/log.h"

#include <cstdio>
#include <system_error>

void logLine(std::string_view text, std::string_view detail) {
    std::string line;
    line.reserve(text.size() + detail.size() + 2);
    line.append(text).append(" ").append(detail).append("\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void diagnostic(std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

namespace {

// RFC 3986 path characters that stand for themselves; every other byte is escaped.
bool isPathCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '/':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
        return true;
    default:
        return false;
    }
}

} // namespace

std::string fileURL(const std::filesystem::path& location, bool isFolder) {
    static constexpr char hex[] = "0123456789ABCDEF";
    const std::string& bytes = location.native();
    std::string url = "file://";
    url.reserve(url.size() + bytes.size() + 1);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isPathCharacter(c)) {
            url.push_back(ch);
        } else {
            url.push_back('%');
            url.push_back(hex[c >> 4]);
            url.push_back(hex[c & 0x0F]);
        }
    }
    if (isFolder && (bytes.empty() || bytes.back() != '/'))
        url.push_back('/');
    return url;
}
