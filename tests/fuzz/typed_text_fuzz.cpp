// Typed text of any bytes, through the docket key, the names of its buckets and the prefix
// test against entry names of any bytes. The prefix matcher settles most names from their
// bytes alone; whatever the route, it must answer as the character-by-character comparison.
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "model/unicode_text.h"
#include "resolve/docket_naming.h"
#include "resolve/prefix_matcher.h"

namespace {

void checkMatcher(const std::string& prefix, const std::vector<std::string>& names) {
    const PrefixMatcher matcher(prefix);
    const std::vector<std::string_view> wanted = characters(prefix);
    for (const std::string& name : names) {
        fuzzCheck(matcher.matches(name) == hasCharacterPrefix(name, wanted),
                  "the matcher and the characters disagree on prefix \"" + prefix +
                      "\" and name \"" + name + "\"");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string typed = input.ConsumeRandomLengthString();
    const std::string name = input.ConsumeRandomLengthString();
    const std::string tail = input.ConsumeRemainingBytesAsString();

    const std::string key = extractDigits(typed);
    const DocketNames names = docketNames(key);
    const std::size_t keyLength = characters(key).size();
    fuzzCheck(names.legacyBucket.has_value() == (keyLength >= 3),
              "a Legacy bucket for a key of " + std::to_string(keyLength) + " characters");
    if (names.legacyBucket)
        fuzzCheck(names.legacyBucket->starts_with("a-") &&
                      key.starts_with(names.legacyBucket->substr(2)),
                  "the Legacy bucket " + *names.legacyBucket + " is not the key's beginning");
    fuzzCheck(names.jName.starts_with("J") && names.jBucket.starts_with("a-") &&
                  names.jName.starts_with(names.jBucket.substr(2)) && names.jName.ends_with(key),
              "the J names " + names.jName + " and " + names.jBucket + " do not fit " + key);

    const std::filesystem::path root = "/dockets";
    for (const std::string& bucket : {names.legacyBucket.value_or("a-"), names.jBucket, name}) {
        if (const auto folder = bucketLocation(root, bucket))
            fuzzCheck(folder->parent_path() == root && folder->filename() == bucket,
                      "the bucket " + bucket + " leads elsewhere: " + folder->native());
    }

    for (const std::string& prefix : {key, names.jName, name}) {
        const std::string cut = prefix.substr(0, prefix.size() - !prefix.empty());
        checkMatcher(prefix, {name, tail, prefix + tail, cut + tail, prefix + name});
    }
    return 0;
}
