#include "model/unicode_text.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace {

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// Creating a character break iterator loads and clones rule data. Lookups run on worker
// threads as well as on the main thread, so each thread keeps one of its own.
icu::BreakIterator* characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    return iterator.get();
}

// Walks the characters of a UTF-8 text, yielding byte ranges into it.
class CharacterWalk {
public:
    explicit CharacterWalk(std::string_view text) : m_text(text) {
        UErrorCode status = U_ZERO_ERROR;
        utext_openUTF8(&m_utext, text.data(), static_cast<int64_t>(text.size()), &status);
        m_breaks = U_SUCCESS(status) ? characterBreaks() : nullptr;
        if (m_breaks) {
            m_breaks->setText(&m_utext, status);
            if (U_FAILURE(status))
                m_breaks = nullptr;
        }
    }
    // The shared iterator keeps only a shallow clone of our UText and is given new text
    // before its next use, so nothing needs detaching here.
    ~CharacterWalk() { utext_close(&m_utext); }
    CharacterWalk(const CharacterWalk&) = delete;
    CharacterWalk& operator=(const CharacterWalk&) = delete;

    // The next character, or an empty view at the end.
    std::string_view next() {
        if (m_start >= m_text.size())
            return {};
        std::size_t end = m_text.size();
        if (m_breaks) {
            const int32_t boundary = m_breaks->following(static_cast<int32_t>(m_start));
            if (boundary != icu::BreakIterator::DONE)
                end = static_cast<std::size_t>(boundary);
        } else {
            // Without ICU's rules fall back to one code point per character.
            int32_t i = static_cast<int32_t>(m_start);
            UChar32 c;
            U8_NEXT(m_text.data(), i, static_cast<int32_t>(m_text.size()), c);
            (void)c;
            end = static_cast<std::size_t>(i);
        }
        const std::string_view character = m_text.substr(m_start, end - m_start);
        m_start = end;
        return character;
    }

private:
    std::string_view m_text;
    UText m_utext = UTEXT_INITIALIZER;
    icu::BreakIterator* m_breaks = nullptr;
    std::size_t m_start = 0;
};

} // namespace

bool canonicallyEquivalent(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
        return false;
    const icu::UnicodeString left = nfd->normalize(toUnicode(a), status);
    const icu::UnicodeString right = nfd->normalize(toUnicode(b), status);
    return U_SUCCESS(status) && left == right;
}

std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> result;
    CharacterWalk walk(text);
    for (std::string_view c = walk.next(); !c.empty(); c = walk.next())
        result.push_back(c);
    return result;
}

bool hasCharacterPrefix(std::string_view text, const std::vector<std::string_view>& prefix) {
    CharacterWalk walk(text);
    for (const std::string_view wanted : prefix) {
        const std::string_view c = walk.next();
        if (c.empty() || !canonicallyEquivalent(c, wanted))
            return false;
    }
    return true;
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t begin = 0;
    while (begin < length) {
        int32_t i = begin;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || !u_isUWhiteSpace(c))
            break;
        begin = i;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t i = end;
        UChar32 c;
        U8_PREV(bytes, begin, i, c);
        if (c < 0 || !u_isUWhiteSpace(c))
            break;
        end = i;
    }
    return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

bool isNumericCharacter(std::string_view character) {
    if (character.empty())
        return false;
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(character.data()), i,
            static_cast<int32_t>(character.size()), c);
    return c >= 0 && u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::string toValidUTF8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0)
            result.append("\xEF\xBF\xBD");
        else
            result.append(
                bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return result;
}
