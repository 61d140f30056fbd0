#pragma once

#include <string>
#include <string_view>
#include <vector>

// Character semantics for UTF-8 text, where a character is an extended grapheme cluster.

// Whether two texts are canonically equivalent (a precomposed and a decomposed accented
// letter are the same text).
bool canonicallyEquivalent(std::string_view a, std::string_view b);

// The text's characters, as views into it. Bytes that are not valid UTF-8 count as one
// character each, unless they attach to a neighbour like a replacement character would.
std::vector<std::string_view> characters(std::string_view text);

// Whether the text begins with the prefix, character by character, each pair compared by
// canonical equivalence. "12345" followed by U+20E3 does not begin with "12345".
bool hasCharacterPrefix(std::string_view text, const std::vector<std::string_view>& prefix);

// The text with leading and trailing whitespace and newlines removed.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// Whether a character counts as numeric: its first scalar has a Numeric_Type other than
// None (Decimal, Digit or Numeric).
bool isNumericCharacter(std::string_view character);

// The bytes as valid UTF-8: every ill-formed sequence becomes U+FFFD.
std::string toValidUTF8(std::string_view bytes);
