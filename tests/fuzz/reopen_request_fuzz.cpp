// The reopen request, as any bytes, read both ways: as a line a later launch sent, and as
// the activation token a launch was given. A line that parses is the very line its token and
// version make again; a line made for any token, in either version, parses as that version,
// and carries the token whenever the token is one a request may hold.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "reopen/reopen_request.h"

namespace {

// Printable ASCII but the space, no longer than any request of any version may carry.
bool mayBeCarried(std::string_view token) {
    if (token.empty() || token.size() > maximumActivationTokenBytes)
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

    if (const auto request = parseReopenRequest(bytes)) {
        const std::string& token = request->activationToken;
        fuzzCheck(token.empty() || mayBeCarried(token), "a token no request may carry");
        fuzzCheck(reopenRequestLine(token, request->version) == std::string(bytes) + "\n",
                  "the token does not make the line it came from");
    }

    for (const int version : {1, newestReopenVersion}) {
        const std::string line = reopenRequestLine(bytes, version);
        fuzzCheck(line.size() <= maximumReopenRequestBytes && line.ends_with('\n') &&
                      line.find('\n') == line.size() - 1,
                  "not one line within the limit");
        const auto back = parseReopenRequest(std::string_view(line).substr(0, line.size() - 1));
        fuzzCheck(back.has_value(), "a line made for a token does not parse");
        fuzzCheck(back->version == version, "the version changed on the way back");
        fuzzCheck(back->activationToken == (mayBeCarried(bytes) ? bytes : std::string_view()),
                  "the token changed on the way back");
    }
    return 0;
}
