#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "resolve/docket_naming.h"

using namespace std::string_literals;

TEST(ExtractDigits, KeepsEveryNumericCharacterWholeAndUnchanged) {
    const std::string megabyte(1u << 20, '7');
    // The key, and typed texts that give it.
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"", {"", "   ", "abc", "\u00A0\u3000", "\xFF\xFE"}},
        // NUL, controls, an escape sequence, broken UTF-8 (C3, E2 82), a ZWJ family, a flag,
        // a skin tone and a keycap on '#': each goes whole and takes no digit with it.
        {"12345",
         {"12-345", "12345\n", "No. 12345", "1\u00002\u0007\u007F3\u001B[m\3034\342\2025"s,
          "\U0001F468\u200D\U0001F469\u200D\U0001F467 12 \U0001F1E9\U0001F1EA3\U0001F44D\U0001F3FD"
          "#\uFE0F\u20E345"}},
        // Other scripts, superscripts, a fraction, Roman and CJK numerals, digits with marks
        // (a mark on a letter goes with the letter) and a keycap digit.
        {"\u0661\u0662\u0967\u0968\u00B2\u00B3\u00BD\u216B\u4E00\u4E8C1\u03012\uFE0F\u20E3",
         {"\u0661\u0662 No. \u0967-\u0968 x\u00B2\u00B3 \u00BD in \u216B \u7B2C\u4E00\u4E8C\u53F7 "
          "a\u0301 1\u0301 2\uFE0F\u20E3"}},
        {megabyte, {" " + megabyte + "\n"}}};
    for (const auto& [key, texts] : rows)
        for (const std::string& text : texts)
            EXPECT_EQ(extractDigits(text), key) << text.substr(0, 60);
}

TEST(DocketNames, CountCharactersNotBytes) {
    // The key, then its Legacy bucket ("-" for none), J bucket and J name.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"7", "- a-J0000 J000007"},
        {"98", "- a-J0000 J000098"},
        {"123", "a-1 a-J0001 J000123"},
        {"12345", "a-123 a-J0123 J012345"},
        {"123456", "a-1234 a-J1234 J123456"},
        {"1234567", "a-12345 a-J1234 J1234567"},
        // Three characters in six bytes, two in four, three carrying marks.
        {"\u0661\u0662\u0663", "a-\u0661 a-J000\u0661 J000\u0661\u0662\u0663"},
        {"\u0661\u0662", "- a-J0000 J0000\u0661\u0662"},
        {"1\u03012\u03013\u0301", "a-1\u0301 a-J0001\u0301 J0001\u03012\u03013\u0301"}};
    for (const auto& [key, expected] : rows) {
        const DocketNames n = docketNames(key);
        EXPECT_EQ(n.legacyBucket.value_or("-") + " " + n.jBucket + " " + n.jName, expected) << key;
    }
}
