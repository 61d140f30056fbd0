#pragma once

#include <string>
#include <string_view>
#include <vector>

// Tests entry names against one prefix, character by character with canonical equivalence,
// case-sensitively. Most names are settled from their bytes alone; the character-level
// comparison runs only for names whose bytes cannot decide.
class PrefixMatcher {
public:
    explicit PrefixMatcher(std::string prefix);
    PrefixMatcher(const PrefixMatcher&) = delete;
    PrefixMatcher& operator=(const PrefixMatcher&) = delete;

    bool matches(std::string_view name) const;

private:
    std::string m_prefix;
    std::vector<std::string_view> m_characters;
    // Length of the prefix's leading run of ASCII bytes (stopping before any CR, which may
    // pair with a following LF). Within it, an ASCII byte that differs settles a mismatch.
    std::size_t m_asciiRun = 0;
    // The whole prefix is such a run: a full byte match followed by an ASCII byte or the end
    // of the name settles a match.
    bool m_settledByBytes = false;
};
