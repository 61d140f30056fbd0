#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "model/unicode_text.h"
#include "resolve/prefix_matcher.h"

TEST(PrefixMatcher, ComparesWholeCharactersCaseSensitivelyUpToEquivalence) {
    // A prefix, names that begin with it, names that do not.
    using Names = std::vector<std::string>;
    const std::vector<std::tuple<std::string, Names, Names>> rows = {
        {"J000123", {"J000123", "J0001234 X", "J000123\nX"}, {"j000123", "J00012", " J000123"}},
        // A mark or joiner on the last digit makes another character of it; CR LF is one.
        {"12345", {"12345\u00E9", "12345\xFF", "12345\r\n"}, {"12345\u20E3", "12345\u200D"}},
        {"12\r", {"12\rX"}, {"12\r\n"}},
        // Precomposed and decomposed, marks in another order, the Kelvin sign.
        {"Caf\u00E9", {"Cafe\u0301 au lait"}, {"Cafe"}},
        {"Cafe", {"Cafe au lait"}, {"Caf\u00E9", "Cafe\u0301"}},
        {"1\u0323\u0301", {"1\u0301\u0323 X"}, {"1\u0301"}},
        {"\u212A1", {"K1"}, {"k1"}}};
    for (const auto& [prefix, matching, other] : rows)
        for (const bool expected : {true, false})
            for (const std::string& name : expected ? matching : other)
                EXPECT_EQ(PrefixMatcher(prefix).matches(name), expected) << prefix << " | " << name;
}

// Most names are settled from their bytes; whatever the route, the answer must be the one
// the character-by-character comparison gives. The pieces sit on every edge of the byte
// route: ASCII that agrees or differs, marks and joiners that extend the previous character,
// CR and LF, text equivalent to ASCII only canonically, and bytes that are not UTF-8.
TEST(PrefixMatcher, AgreesWithTheCharacterComparisonOnGeneratedNames) {
    const std::vector<std::string> pieces = {
        "1",      "0",      "J",      "j",      "K",         "k",      " ",        "\r",
        "\n",     "\u0301", "\u0323", "\u20E3", "\uFE0F",    "\u200D", "\u00E9",   "e",
        "\u212A", "\u037E", "\u0661", "\u00B2", "\xFF",      "\xC3",   "\xE2\x82", "\x80",
        "\u0600", "\u1100", "\u1161", "\uAC00", "\U0001F468"};
    std::mt19937 random(20240611);
    auto text = [&](std::size_t most) {
        std::string result;
        for (std::size_t n = random() % (most + 1); n > 0; --n)
            result += pieces[random() % pieces.size()];
        return result;
    };
    int matched = 0, missed = 0;
    for (int round = 0; round < 6000; ++round) {
        const std::string prefix = round % 4 == 0 ? "J0" + text(3) : text(4);
        // The prefix's bytes and more, the prefix less its last byte and more, and anything.
        const std::string cut = prefix.substr(0, prefix.size() - !prefix.empty());
        for (const std::string& name : {prefix + text(3), cut + text(3), text(6)}) {
            const bool expected = hasCharacterPrefix(name, characters(prefix));
            ASSERT_EQ(PrefixMatcher(prefix).matches(name), expected) << prefix << " | " << name;
            ++(expected ? matched : missed);
        }
    }
    // Both answers must have come up often, or the comparison proved little.
    EXPECT_GT(matched, 4000);
    EXPECT_GT(missed, 4000);
}
