// The stored recents list, as any bytes: it decodes or fails with a printable description,
// and a list that decodes is written and read back unchanged, in the same words each time.
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "model/recent_docket.h"
#include "model/unicode_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stored(reinterpret_cast<const char*>(data), size);
    const auto decoded = decodeRecentDockets(stored);
    if (!decoded) {
        const std::string& description = decoded.failure().description;
        fuzzCheck(toValidUTF8(description) == description,
                  "the description is not UTF-8: " + description);
        return 0;
    }
    const auto encoded = encodeRecentDockets(*decoded);
    fuzzCheck(encoded.ok(), "a list that decoded does not encode: " +
                                (encoded ? std::string() : encoded.failure().description));
    const auto again = decodeRecentDockets(*encoded);
    fuzzCheck(again.ok() && *again == *decoded, "the list changed on the way back: " + *encoded);
    const auto reencoded = encodeRecentDockets(*again);
    fuzzCheck(reencoded.ok() && *reencoded == *encoded, "encoding is not stable: " + *encoded);
    return 0;
}
