#include "resolve/docket_naming.h"

#include <vector>

#include "model/unicode_text.h"

std::string extractDigits(std::string_view text) {
    const std::string_view trimmed = trimWhitespaceAndNewlines(text);
    std::string key;
    for (const std::string_view c : characters(trimmed)) {
        if (isNumericCharacter(c))
            key.append(c);
    }
    return key;
}

DocketNames docketNames(std::string_view docketKey) {
    const std::vector<std::string_view> key = characters(docketKey);
    DocketNames names;

    if (key.size() >= 3) {
        std::string bucket = "a-";
        for (std::size_t i = 0; i + 2 < key.size(); ++i)
            bucket.append(key[i]);
        names.legacyBucket = std::move(bucket);
    }

    std::vector<std::string_view> jName = {"J"};
    for (std::size_t i = key.size(); i < 6; ++i)
        jName.push_back("0");
    jName.insert(jName.end(), key.begin(), key.end());

    names.jBucket = "a-";
    for (std::size_t i = 0; i < jName.size(); ++i) {
        if (i < 5)
            names.jBucket.append(jName[i]);
        names.jName.append(jName[i]);
    }
    return names;
}

std::optional<std::filesystem::path> bucketLocation(const std::filesystem::path& root,
                                                    const std::string& bucket) {
    if (bucket.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        return std::nullopt;
    return root / bucket;
}

std::string displayName(const std::filesystem::path& location) {
    return toValidUTF8(location.filename().native());
}
