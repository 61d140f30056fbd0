// The reopen request, as any bytes, read both ways: as a line a later launch sent, and as
// the activation token a launch was given. A line that parses is the very line its token
// makes again; a line made for any token parses, and carries the token whenever the token
// is one a request may hold.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/reopen_request.h"
#include "fuzz_check.h"

namespace {

// Printable ASCII but the space, in a line "reopen <token>\n" that fits the limit.
bool mayBeCarried(std::string_view token) {
    if (token.empty() ||
        std::string_view("reopen \n").size() + token.size() > maximumReopenRequestBytes)
        return false;
    for (const char c : token) {
        if (c <= ' ' || c >= 0x7f)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto token = parseReopenRequest(bytes)) {
        fuzzCheck(token->empty() || mayBeCarried(*token), "a token no request may carry");
        fuzzCheck(reopenRequestLine(*token) == std::string(bytes) + "\n",
                  "the token does not make the line it came from");
    }

    const std::string line = reopenRequestLine(bytes);
    fuzzCheck(line.size() <= maximumReopenRequestBytes && line.ends_with('\n') &&
                  line.find('\n') == line.size() - 1,
              "not one line within the limit");
    const auto back = parseReopenRequest(std::string_view(line).substr(0, line.size() - 1));
    fuzzCheck(back.has_value(), "a line made for a token does not parse");
    fuzzCheck(*back == (mayBeCarried(bytes) ? bytes : std::string_view()),
              "the token changed on the way back");
    return 0;
}
