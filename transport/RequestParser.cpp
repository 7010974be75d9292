#include "transport/RequestParser.h"

#include "base/HexDigit.h"

#include <QtAlgorithms>

#include <cstring>
#include <limits>

namespace {

using TokenKind = RequestParser::TokenKind;

// Character classes, one bit each, looked up in one table: scanning is the tokenizer's hot loop.
enum CharClass : uchar {
    TokenChar = 1, // tchar (RFC 7230): visible ASCII except the separators "(),/:;<=>?@[\]{}
    TargetChar = 2, // request-target bytes: "!", "$" to ";", "=", "?" to "Z", "_", "a" to "z", "~"
    ValueChar = 4, // field values and chunk extensions: visible ASCII, 0x80 and above, space, tab
};

constexpr uchar classify(uchar c)
{
    uchar classes = 0;
    bool separator = false;
    for (const char *s = "\"(),/:;<=>?@[\\]{}"; *s; ++s)
        separator = separator || uchar(*s) == c;
    if (c > 0x20 && c < 0x7f && !separator)
        classes |= TokenChar;
    if (c == '!' || (c >= '$' && c <= ';') || c == '=' || (c >= '?' && c <= 'Z') || c == '_'
        || (c >= 'a' && c <= 'z') || c == '~')
        classes |= TargetChar;
    if ((c >= 0x21 && c != 0x7f) || c == ' ' || c == '\t')
        classes |= ValueChar;
    return classes;
}

struct CharClassTable
{
    uchar classes[256];
    constexpr CharClassTable()
        : classes()
    {
        for (int c = 0; c < 256; ++c)
            classes[c] = classify(uchar(c));
    }
};

constexpr CharClassTable kCharClasses;

// The first position from `from` on whose byte is not of the class, or size.
int scanClass(const char *data, int from, int size, CharClass charClass)
{
    const uchar *bytes = reinterpret_cast<const uchar *>(data);
    int i = from;
    for (; i + 4 <= size; i += 4) {
        if (!(kCharClasses.classes[bytes[i]] & charClass))
            return i;
        if (!(kCharClasses.classes[bytes[i + 1]] & charClass))
            return i + 1;
        if (!(kCharClasses.classes[bytes[i + 2]] & charClass))
            return i + 2;
        if (!(kCharClasses.classes[bytes[i + 3]] & charClass))
            return i + 3;
    }
    while (i < size && (kCharClasses.classes[bytes[i]] & charClass))
        ++i;
    return i;
}

// Like scanClass for ValueChar, eight bytes at a time: the lowest flagged byte of a block is the first
// control or DEL in it (flags above it may be false); a tab, the one control allowed, is stepped over.
int scanValue(const char *data, int from, int size)
{
    constexpr quint64 ones = 0x0101010101010101ull;
    constexpr quint64 highBits = 0x8080808080808080ull;
    int i = from;
    while (i + 8 <= size) {
        quint64 block;
        std::memcpy(&block, data + i, 8);
        const quint64 belowSpace = (block - ones * 0x20) & ~block & highBits;
        const quint64 delBytes = block ^ (ones * 0x7f);
        const quint64 del = (delBytes - ones) & ~delBytes & highBits;
        const quint64 flagged = belowSpace | del;
        if (!flagged) {
            i += 8;
            continue;
        }
        const int at = i + int(qCountTrailingZeroBits(flagged) / 8);
        if (data[at] != '\t')
            return at;
        i = at + 1;
    }
    while (i < size && (kCharClasses.classes[uchar(data[i])] & ValueChar))
        ++i;
    return i;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

template <int N> bool equalsIgnoringCase(const char *bytes, int size, const char (&lowerCase)[N])
{
    if (size != N - 1)
        return false;
    for (int i = 0; i < size; ++i) {
        char c = bytes[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lowerCase[i])
            return false;
    }
    return true;
}

} // namespace

int RequestParser::budgetOf(Section section)
{
    switch (section) {
    case Section::Head:
        return kMaxHeadSize;
    case Section::ChunkLine:
        return kMaxChunkLineSize;
    case Section::Trailers:
        return kMaxTrailerSize;
    case Section::Unbounded:
        break;
    }
    return std::numeric_limits<int>::max();
}

// The separators and line ends after a token, and the chunk framing after a chunk's data, are counted in
// that token's consumed bytes when they are already there: nothing acts on them, and the reader then
// meets two tokens per header field and one per chunk. Framing still incomplete is left for the next
// call, which hands it out as a skip token; an error found in it is reported by the next call.
RequestParser::TokenKind RequestParser::advance(const char *data, int size)
{
    if (m_error != TokenKind::NeedMoreData)
        return fail(m_error);
    const TokenKind found = readBounded(data, size);
    if (found == TokenKind::NeedMoreData || isError(found))
        return found;
    const int valueSize = m_valueSize;
    int consumed = m_consumed;
    while (nextTokenIsSkip()) {
        if (readBounded(data + consumed, size - consumed) != TokenKind::Skip)
            break;
        consumed += m_consumed;
    }
    return token(found, consumed, valueSize, m_scanned);
}

// A bounded section only ever sees its remaining budget of bytes: a token that would need a byte past
// the bound is refused, at the same byte however the input was split.
RequestParser::TokenKind RequestParser::readBounded(const char *data, int size)
{
    const Section section = sectionOf(m_state);
    const int visible = qMin(size, m_budget);
    const TokenKind found = readState(data, visible);
    if (found == TokenKind::NeedMoreData) {
        if (visible < size)
            return fail(TokenKind::TooLarge);
        return found;
    }
    if (isError(found))
        return found;
    const Section nextSection = sectionOf(m_state);
    if (nextSection != section)
        m_budget = budgetOf(nextSection);
    else if (section != Section::Unbounded)
        m_budget -= m_consumed;
    return found;
}

RequestParser::TokenKind RequestParser::readState(const char *data, int size)
{
    switch (m_state) {
    case State::Method:
        return readMethod(data, size);
    case State::MethodSpace:
        return readMethodSpace(data, size);
    case State::Target:
        return readTarget(data, size);
    case State::VersionPrefix:
        return readVersionPrefix(data, size);
    case State::VersionDigit:
        return readVersionDigit(data, size);
    case State::RequestLineEnd:
        return readLineEnd(data, size, true, State::FieldName);
    case State::FieldName:
        return readFieldName(data, size, false);
    case State::FieldColon:
        return readColon(data, size, State::FieldValue);
    case State::FieldValue:
        return readFieldValue(data, size, false);
    case State::FieldLineEnd:
        return readLineEnd(data, size, true, State::FieldName);
    case State::HeadEnd:
        return readHeadEnd(data, size);
    case State::Body:
        return readBody(data, size, State::BodyEnd);
    case State::BodyEnd:
        m_state = State::MessageEnd;
        return token(TokenKind::EndOfBody, 0, 0);
    case State::MessageEnd:
        startNextRequest();
        return token(TokenKind::EndOfMessage, 0, 0);
    case State::ChunkSize:
        return readChunkSize(data, size);
    case State::ChunkExtension:
        return readChunkExtension(data, size);
    case State::ChunkSizeLineEnd:
        return readChunkSizeLineEnd(data, size);
    case State::ChunkData:
        return readBody(data, size, State::ChunkDataEnd);
    case State::ChunkDataEnd:
        m_chunkSize = 0;
        return readLineEnd(data, size, false, State::ChunkSize);
    case State::TrailerName:
        return readFieldName(data, size, true);
    case State::TrailerColon:
        return readColon(data, size, State::TrailerValue);
    case State::TrailerValue:
        return readFieldValue(data, size, true);
    case State::TrailerLineEnd:
        return readLineEnd(data, size, false, State::TrailerName);
    case State::TrailersEnd:
        return readTrailersEnd(data, size);
    }
    return fail(TokenKind::InvalidData);
}

// method = 1*tchar
RequestParser::TokenKind RequestParser::readMethod(const char *data, int size)
{
    const int i = scanClass(data, m_scanned, size, TokenChar);
    if (i == size)
        return needMore(i);
    if (i == 0)
        return fail(TokenKind::InvalidData);
    m_state = State::MethodSpace;
    return token(TokenKind::Method, i, i);
}

// SP between method and request-target: exactly one.
RequestParser::TokenKind RequestParser::readMethodSpace(const char *data, int size)
{
    if (size < 1)
        return needMore(0);
    if (data[0] != ' ')
        return fail(TokenKind::InvalidData);
    m_state = State::Target;
    return token(TokenKind::Skip, 1, 0);
}

// request-target = 1*target-char; whatever ends it must be the " HTTP/1." that follows.
RequestParser::TokenKind RequestParser::readTarget(const char *data, int size)
{
    const int i = scanClass(data, m_scanned, size, TargetChar);
    if (i == size)
        return needMore(i);
    if (i == 0)
        return fail(TokenKind::InvalidData);
    m_state = State::VersionPrefix;
    return token(TokenKind::RequestTarget, i, i);
}

// " HTTP/1.", compared byte by byte: a request line of another major version is invalid data.
RequestParser::TokenKind RequestParser::readVersionPrefix(const char *data, int size)
{
    static const char prefix[] = " HTTP/1.";
    const int prefixSize = sizeof(prefix) - 1;
    int i = m_scanned;
    for (; i < size && i < prefixSize; ++i) {
        if (data[i] != prefix[i])
            return fail(TokenKind::InvalidData);
    }
    if (i < prefixSize)
        return needMore(i);
    m_state = State::VersionDigit;
    return token(TokenKind::Skip, prefixSize, 0);
}

// One digit: "0" is HTTP/1.0, any other minor version is read as HTTP/1.1.
RequestParser::TokenKind RequestParser::readVersionDigit(const char *data, int size)
{
    if (size < 1)
        return needMore(0);
    if (data[0] < '0' || data[0] > '9')
        return fail(TokenKind::InvalidData);
    m_versionState = data[0] == '0' ? VersionState::Http10 : VersionState::Http11WithoutHost;
    m_state = State::RequestLineEnd;
    return token(TokenKind::Version, 1, 1);
}

// field-name = 1*tchar; an empty name is where the block ends.
RequestParser::TokenKind RequestParser::readFieldName(const char *data, int size, bool trailer)
{
    const int i = scanClass(data, m_scanned, size, TokenChar);
    if (i == size)
        return needMore(i);
    if (i == 0) {
        m_state = trailer ? State::TrailersEnd : State::HeadEnd;
        return trailer ? readTrailersEnd(data, size) : readHeadEnd(data, size);
    }
    if (trailer) {
        m_state = State::TrailerColon;
        return token(TokenKind::TrailerName, i, i);
    }
    noteFieldName(data, i);
    if (m_error != TokenKind::NeedMoreData)
        return fail(m_error);
    m_state = State::FieldColon;
    return token(TokenKind::FieldName, i, i);
}

// ":" *( SP / HTAB ); no space is allowed before the colon (RFC 7230 3.2.4).
RequestParser::TokenKind RequestParser::readColon(const char *data, int size, State nextState)
{
    if (size < 1)
        return needMore(0);
    if (data[0] != ':')
        return fail(TokenKind::InvalidData);
    int i = qMax<int>(m_scanned, 1);
    while (i < size && isBlank(data[i]))
        ++i;
    if (i == size)
        return needMore(i);
    m_state = nextState;
    return token(TokenKind::Skip, i, 0);
}

// field-value = *( VCHAR / obs-text / SP / HTAB ) up to the line end, trailing blanks cut.
RequestParser::TokenKind RequestParser::readFieldValue(const char *data, int size, bool trailer)
{
    const int i = scanValue(data, m_scanned, size);
    if (i == size)
        return needMore(i);
    int valueSize = i;
    while (valueSize > 0 && isBlank(data[valueSize - 1]))
        --valueSize;
    if (trailer) {
        m_state = State::TrailerLineEnd;
        return token(TokenKind::TrailerValue, i, valueSize);
    }
    TokenKind kind = TokenKind::FieldValue;
    if (m_framing == Framing::AwaitingLength)
        kind = noteContentLength(data, valueSize);
    else if (m_framing == Framing::AwaitingEncoding)
        kind = noteTransferEncoding(data, valueSize);
    if (kind != TokenKind::FieldValue)
        return fail(kind);
    m_state = State::FieldLineEnd;
    return token(TokenKind::FieldValue, i, valueSize);
}

// Line end: CR LF, or a lone LF where loneLf allows it (the head, not the chunk framing).
RequestParser::TokenKind RequestParser::readLineEnd(const char *data, int size, bool loneLf, State nextState)
{
    if (size < 1)
        return needMore(0);
    int lineEnd = 0;
    if (data[0] == '\n' && loneLf) {
        lineEnd = 1;
    } else {
        if (data[0] != '\r')
            return fail(TokenKind::InvalidData);
        if (size < 2)
            return needMore(0);
        if (data[1] != '\n')
            return fail(TokenKind::InvalidData);
        lineEnd = 2;
    }
    m_state = nextState;
    return token(TokenKind::Skip, lineEnd, 0);
}

// The empty line ending the head; HTTP/1.1 needs exactly one Host; the framing chooses the body.
RequestParser::TokenKind RequestParser::readHeadEnd(const char *data, int size)
{
    const TokenKind lineEnd = readLineEnd(data, size, true, State::BodyEnd);
    if (lineEnd != TokenKind::Skip)
        return lineEnd;
    if (m_versionState == VersionState::Http11WithoutHost)
        return fail(TokenKind::HostError);
    m_chunkedBodySize = 0;
    switch (m_framing) {
    case Framing::LengthKnown:
        if (m_remaining > kMaxBodySize)
            return fail(TokenKind::TooLarge);
        if (m_remaining != 0)
            m_state = State::Body;
        break;
    case Framing::Chunked:
        m_chunkSize = 0;
        m_state = State::ChunkSize;
        break;
    case Framing::EncodingWithoutChunked:
        return fail(TokenKind::InvalidTransferEncoding);
    case Framing::None:
    case Framing::AwaitingLength:
    case Framing::AwaitingEncoding:
        break;
    }
    return token(TokenKind::EndOfHeaders, m_consumed, 0);
}

// Body bytes: all that is there, up to what the length or the chunk size leaves.
RequestParser::TokenKind RequestParser::readBody(const char *data, int size, State nextState)
{
    Q_UNUSED(data);
    if (size < 1)
        return needMore(0);
    const int take = quint64(size) < m_remaining ? size : int(m_remaining);
    m_remaining -= quint64(take);
    if (m_remaining == 0)
        m_state = nextState;
    return token(TokenKind::BodyChunk, take, take);
}

// chunk-size = 1*HEXDIG, at most 64 bits once leading zeros are skipped.
RequestParser::TokenKind RequestParser::readChunkSize(const char *data, int size)
{
    int i = m_scanned;
    for (; i < size; ++i) {
        const int digit = Base::hexDigitValue(uchar(data[i]));
        if (digit < 0)
            break;
        if (m_chunkSize > (std::numeric_limits<quint64>::max() >> 4))
            return fail(TokenKind::ChunkSizeOverflow);
        m_chunkSize = (m_chunkSize << 4) | quint64(digit);
    }
    if (i == size)
        return needMore(i);
    if (i == 0)
        return fail(TokenKind::InvalidData);
    if (m_chunkSize > kMaxBodySize - m_chunkedBodySize)
        return fail(TokenKind::TooLarge);
    m_state = State::ChunkExtension;
    return token(TokenKind::Skip, i, 0);
}

// chunk-ext: ignored, any run of visible bytes and blanks, ended by CR.
RequestParser::TokenKind RequestParser::readChunkExtension(const char *data, int size)
{
    const int i = scanValue(data, m_scanned, size);
    if (i == size)
        return needMore(i);
    if (data[i] != '\r')
        return fail(TokenKind::InvalidData);
    m_state = State::ChunkSizeLineEnd;
    if (i == 0)
        return readChunkSizeLineEnd(data, size);
    return token(TokenKind::Skip, i, 0);
}

// CR LF after the chunk size; the last chunk (size 0) ends the body and trailers follow.
RequestParser::TokenKind RequestParser::readChunkSizeLineEnd(const char *data, int size)
{
    const bool lastChunk = m_chunkSize == 0;
    const TokenKind lineEnd
        = readLineEnd(data, size, false, lastChunk ? State::TrailerName : State::ChunkData);
    if (lineEnd != TokenKind::Skip)
        return lineEnd;
    if (lastChunk)
        return token(TokenKind::EndOfBody, m_consumed, 0);
    m_remaining = m_chunkSize;
    m_chunkedBodySize += m_chunkSize;
    return lineEnd;
}

// The CR LF after the trailer fields ends the message.
RequestParser::TokenKind RequestParser::readTrailersEnd(const char *data, int size)
{
    const TokenKind lineEnd = readLineEnd(data, size, false, State::Method);
    if (lineEnd != TokenKind::Skip)
        return lineEnd;
    startNextRequest();
    return token(TokenKind::EndOfMessage, m_consumed, 0);
}

// Host counts once on HTTP/1.1; Transfer-Encoding overrides Content-Length; a second length is refused.
void RequestParser::noteFieldName(const char *name, int size)
{
    if (equalsIgnoringCase(name, size, "host")) {
        if (m_versionState == VersionState::Http11WithHost)
            fail(TokenKind::HostError);
        else if (m_versionState == VersionState::Http11WithoutHost)
            m_versionState = VersionState::Http11WithHost;
    } else if (equalsIgnoringCase(name, size, "transfer-encoding")) {
        if (m_framing == Framing::Chunked)
            fail(TokenKind::InvalidTransferEncoding);
        else
            m_framing = Framing::AwaitingEncoding;
    } else if (equalsIgnoringCase(name, size, "content-length")) {
        if (m_framing == Framing::None)
            m_framing = Framing::AwaitingLength;
        else if (m_framing == Framing::LengthKnown)
            fail(TokenKind::InvalidContentLength);
    }
}

// Content-Length = 1*DIGIT, leading zeros skipped, at most 2^64 - 1.
RequestParser::TokenKind RequestParser::noteContentLength(const char *value, int size)
{
    if (size == 0)
        return TokenKind::InvalidContentLength;
    quint64 length = 0;
    bool overflow = false;
    for (int i = 0; i < size; ++i) {
        if (value[i] < '0' || value[i] > '9')
            return TokenKind::InvalidContentLength;
        const quint64 digit = quint64(value[i] - '0');
        if (length > (std::numeric_limits<quint64>::max() - digit) / 10)
            overflow = true;
        else
            length = length * 10 + digit;
    }
    if (overflow)
        return TokenKind::ContentLengthOverflow;
    m_remaining = length;
    m_framing = Framing::LengthKnown;
    return TokenKind::FieldValue;
}

// Transfer-Encoding = #transfer-coding; "chunked" must come last and only once.
RequestParser::TokenKind RequestParser::noteTransferEncoding(const char *value, int size)
{
    bool chunkedSeen = false;
    int start = 0;
    while (start <= size) {
        int end = start;
        while (end < size && value[end] != ',')
            ++end;
        int first = start;
        int last = end;
        while (first < last && isBlank(value[first]))
            ++first;
        while (last > first && isBlank(value[last - 1]))
            --last;
        if (last > first) {
            if (chunkedSeen)
                return TokenKind::InvalidTransferEncoding;
            chunkedSeen = equalsIgnoringCase(value + first, last - first, "chunked");
        }
        start = end + 1;
    }
    m_framing = chunkedSeen ? Framing::Chunked : Framing::EncodingWithoutChunked;
    return TokenKind::FieldValue;
}

void RequestParser::startNextRequest()
{
    m_framing = Framing::None;
    m_remaining = 0;
    m_state = State::Method;
}
