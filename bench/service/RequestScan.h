// A validating single-pass JSON scanner for the Beast peer: it checks the whole text (RFC 8259 grammar,
// well-formed UTF-8, a nesting bound) without building a document, and keeps the raw tokens of the three
// top-level members the commands route on: "cmd", "uuid" and "sequence".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

class RequestScan
{
public:
    // The raw text of a top-level string member, quotes included (a JSON string as the page wrote it);
    // empty when the member is missing or not a string. The last of repeated members counts.
    struct Envelope
    {
        std::string_view cmd;
        std::string_view uuid;
        std::string_view sequence;
    };

    static constexpr int kMaxDepth = 1024;

    // True when text is one JSON object, optionally surrounded by white space.
    static bool scan(std::string_view text, Envelope *envelope)
    {
        RequestScan scanner(text);
        scanner.skipSpace();
        if (scanner.peek() != '{' || !scanner.object(envelope, 1))
            return false;
        scanner.skipSpace();
        return scanner.m_pos == text.size();
    }

    // The value of a raw string token, with its escapes decoded into UTF-8 (the token is known valid).
    static std::string decoded(std::string_view token)
    {
        std::string out;
        if (token.size() < 2)
            return out;
        token = token.substr(1, token.size() - 2);
        if (token.find('\\') == std::string_view::npos)
            return std::string(token);
        for (size_t i = 0; i < token.size(); ++i) {
            if (token[i] != '\\') {
                out += token[i];
                continue;
            }
            const char c = token[++i];
            switch (c) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t code = hex4(token.substr(i + 1, 4));
                i += 4;
                if (code >= 0xD800 && code < 0xDC00 && i + 6 < token.size() + 1 && token.substr(i + 1, 2) == "\\u") {
                    const uint32_t low = hex4(token.substr(i + 3, 4));
                    if (low >= 0xDC00 && low < 0xE000) {
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        i += 6;
                    }
                }
                appendUtf8(out, code);
                break;
            }
            default: out += c; break; // " \ /
            }
        }
        return out;
    }

private:
    explicit RequestScan(std::string_view text)
        : m_text(text)
    {
    }

    static uint32_t hex4(std::string_view digits)
    {
        uint32_t value = 0;
        for (const char d : digits)
            value = value * 16 + uint32_t(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
        return value;
    }

    static void appendUtf8(std::string &out, uint32_t code)
    {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }

    void skipSpace()
    {
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                return;
            ++m_pos;
        }
    }

    bool literal(std::string_view word)
    {
        if (m_text.substr(m_pos, word.size()) != word)
            return false;
        m_pos += word.size();
        return true;
    }

    // A string token at m_pos: escapes checked, control characters refused, UTF-8 well-formed.
    bool string()
    {
        ++m_pos; // opening quote
        const auto *s = reinterpret_cast<const uint8_t *>(m_text.data());
        const size_t size = m_text.size();
        while (m_pos < size) {
            // The common run: printable ASCII other than the quote and the backslash, eight bytes a step
            // while no byte of the word can end it, then byte by byte.
            while (size - m_pos >= 8 && plainWord(s + m_pos))
                m_pos += 8;
            while (m_pos < size && s[m_pos] >= 0x20 && s[m_pos] < 0x80 && s[m_pos] != '"' && s[m_pos] != '\\')
                ++m_pos;
            if (m_pos >= size)
                return false;
            const uint8_t c = s[m_pos];
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                if (++m_pos >= size)
                    return false;
                const char e = char(s[m_pos]);
                if (e == 'u') {
                    for (int k = 1; k <= 4; ++k) {
                        const size_t at = m_pos + size_t(k);
                        if (at >= size || !isxdigit(s[at]))
                            return false;
                    }
                    m_pos += 5;
                } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r'
                    || e == 't') {
                    ++m_pos;
                } else {
                    return false;
                }
                continue;
            }
            if (!utf8Sequence(s, size))
                return false;
        }
        return false;
    }

    // True when none of the eight bytes is a control character, non-ASCII, a quote or a backslash. The
    // zero-byte test may flag a word wrongly (never miss one): the byte loop then decides.
    static bool plainWord(const uint8_t *bytes)
    {
        constexpr uint64_t ones = 0x0101010101010101ULL;
        constexpr uint64_t highs = 0x8080808080808080ULL;
        uint64_t word;
        std::memcpy(&word, bytes, sizeof word);
        const auto hasZero = [](uint64_t v) { return (v - ones) & ~v & highs; };
        const uint64_t control = (word - 0x20 * ones) & ~word & highs;
        return !(control | (word & highs) | hasZero(word ^ ('"' * ones)) | hasZero(word ^ ('\\' * ones)));
    }

    static bool isxdigit(uint8_t c)
    {
        return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
    }

    // One multi-byte UTF-8 sequence at m_pos (RFC 3629: no overlong forms, surrogates or code points above
    // U+10FFFF).
    bool utf8Sequence(const uint8_t *s, size_t size)
    {
        const uint8_t lead = s[m_pos];
        int length = 0;
        uint8_t low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (size - m_pos < size_t(length) || s[m_pos + 1] < low || s[m_pos + 1] > high)
            return false;
        for (int k = 2; k < length; ++k)
            if ((s[m_pos + size_t(k)] & 0xC0) != 0x80)
                return false;
        m_pos += size_t(length);
        return true;
    }

    bool digits()
    {
        const size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9')
            ++m_pos;
        return m_pos > start;
    }

    bool number()
    {
        if (peek() == '-')
            ++m_pos;
        if (peek() == '0')
            ++m_pos;
        else if (!digits())
            return false;
        if (peek() == '.') {
            ++m_pos;
            if (!digits())
                return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_pos;
            if (peek() == '+' || peek() == '-')
                ++m_pos;
            if (!digits())
                return false;
        }
        return true;
    }

    bool value(int depth)
    {
        switch (peek()) {
        case '{': return object(nullptr, depth + 1);
        case '[': return array(depth + 1);
        case '"': return string();
        case 't': return literal("true");
        case 'f': return literal("false");
        case 'n': return literal("null");
        default: return number();
        }
    }

    bool array(int depth)
    {
        if (depth > kMaxDepth)
            return false;
        ++m_pos;
        skipSpace();
        if (peek() == ']') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipSpace();
            if (!value(depth))
                return false;
            skipSpace();
            const char c = peek();
            ++m_pos;
            if (c == ']')
                return true;
            if (c != ',')
                return false;
        }
    }

    // Members of the top-level object (envelope set) are looked at; nested objects only validated.
    bool object(Envelope *envelope, int depth)
    {
        if (depth > kMaxDepth)
            return false;
        ++m_pos;
        skipSpace();
        if (peek() == '}') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"')
                return false;
            const size_t keyStart = m_pos;
            if (!string())
                return false;
            const std::string_view key = m_text.substr(keyStart, m_pos - keyStart);
            skipSpace();
            if (peek() != ':')
                return false;
            ++m_pos;
            skipSpace();
            const size_t valueStart = m_pos;
            const bool isString = peek() == '"';
            if (!value(depth))
                return false;
            if (envelope) {
                const std::string_view raw = isString ? m_text.substr(valueStart, m_pos - valueStart) : std::string_view();
                std::string escapedName;
                std::string_view name = key.substr(1, key.size() - 2);
                if (name.find('\\') != std::string_view::npos)
                    name = escapedName = decoded(key);
                if (name == "cmd")
                    envelope->cmd = raw;
                else if (name == "uuid")
                    envelope->uuid = raw;
                else if (name == "sequence")
                    envelope->sequence = raw;
            }
            skipSpace();
            const char c = peek();
            ++m_pos;
            if (c == '}')
                return true;
            if (c != ',')
                return false;
        }
    }

    std::string_view m_text;
    size_t m_pos = 0;
};
