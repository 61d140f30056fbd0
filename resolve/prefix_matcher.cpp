#include "resolve/prefix_matcher.h"

#include <algorithm>

#include "model/unicode_text.h"

namespace {

bool isASCII(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

} // namespace

PrefixMatcher::PrefixMatcher(std::string prefix)
    : m_prefix(std::move(prefix)), m_characters(characters(m_prefix)) {
    while (m_asciiRun < m_prefix.size() && isASCII(m_prefix[m_asciiRun]) &&
           m_prefix[m_asciiRun] != '\r')
        ++m_asciiRun;
    m_settledByBytes = m_asciiRun == m_prefix.size();
}

// Why the bytes can decide: an ASCII byte always starts a character of its own (short of LF
// after CR), and no other text is canonically equivalent to a lone ASCII character except
// through a non-ASCII scalar. So where the name and the prefix agree byte for byte, their
// characters agree, and where the name has a different ASCII byte, that character differs.
bool PrefixMatcher::matches(std::string_view name) const {
    std::size_t i = 0;
    const std::size_t limit = std::min(m_asciiRun, name.size());
    while (i < limit && name[i] == m_prefix[i])
        ++i;

    if (i < m_asciiRun) {
        if (i == name.size() || isASCII(name[i]))
            return false;
    } else if (m_settledByBytes) {
        if (i == name.size() || isASCII(name[i]))
            return true;
    }
    return hasCharacterPrefix(name, m_characters);
}
