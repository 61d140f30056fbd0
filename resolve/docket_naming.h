#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// How docket folders are named and grouped under the root folder. All counts are in
// characters (grapheme clusters), so digits of any script and digits carrying marks count as
// one each.
//
//   key      Legacy bucket  Legacy prefix  J bucket   J name
//   7        (none)         (none)         a-J0000    J000007
//   12345    a-123          12345          a-J0123    J012345
//   1234567  a-12345        1234567        a-J1234    J1234567

// The docket key of a typed text: trimmed, then every numeric character kept, whole and
// unchanged, in order.
std::string extractDigits(std::string_view text);

struct DocketNames {
    // "a-" and the key without its last two characters; none for keys under three characters,
    // which are never looked up as Legacy.
    std::optional<std::string> legacyBucket;
    // "J" and the key padded with zeros to six characters; longer keys are kept whole.
    std::string jName;
    // "a-" and the first five characters of the J name.
    std::string jBucket;
};

DocketNames docketNames(std::string_view docketKey);

// The bucket folder inside the root, or none when the name cannot be one folder's name
// (a key read from storage may hold anything, and must not lead outside the root).
std::optional<std::filesystem::path> bucketLocation(const std::filesystem::path& root,
                                                    const std::string& bucket);

// The entry's name for showing and for the recents list: the last path component, with bytes
// that are not UTF-8 shown as replacement characters.
std::string displayName(const std::filesystem::path& location);
