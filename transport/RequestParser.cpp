#include "transport/RequestParser.h"

#include <cstring>
#include <limits>

namespace {

using TokenKind = RequestParser::TokenKind;

// tchar (RFC 7230): visible ASCII except the separators "(),/:;<=>?@[\]{}
bool isTokenChar(uchar c)
{
    if (c <= 0x20 || c >= 0x7f)
        return false;
    return !std::strchr("\"(),/:;<=>?@[\\]{}", c);
}

// Request-target bytes: "!", "$" to ";", "=", "?" to "Z", "_", "a" to "z", "~".
bool isTargetChar(uchar c)
{
    return c == '!' || (c >= '$' && c <= ';') || c == '=' || (c >= '?' && c <= 'Z') || c == '_'
        || (c >= 'a' && c <= 'z') || c == '~';
}

// Field values and chunk extensions: visible ASCII, bytes of 0x80 and above, space and tab.
bool isValueChar(uchar c)
{
    return (c >= 0x21 && c != 0x7f) || c == ' ' || c == '\t';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

int hexDigitValue(uchar c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool equalsIgnoringCase(const char *bytes, qsizetype size, const char *lowerCase)
{
    if (qsizetype(std::strlen(lowerCase)) != size)
        return false;
    for (qsizetype i = 0; i < size; ++i) {
        char c = bytes[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lowerCase[i])
            return false;
    }
    return true;
}

} // namespace

bool RequestParser::isError(TokenKind kind)
{
    return (kind >= TokenKind::InvalidData && kind <= TokenKind::ChunkSizeOverflow)
        || kind == TokenKind::TooLarge;
}

RequestParser::Section RequestParser::sectionOf(State state)
{
    switch (state) {
    case State::Method:
    case State::MethodSpace:
    case State::Target:
    case State::VersionPrefix:
    case State::VersionDigit:
    case State::RequestLineEnd:
    case State::FieldName:
    case State::FieldColon:
    case State::FieldValue:
    case State::FieldLineEnd:
    case State::HeadEnd:
        return Section::Head;
    case State::ChunkSize:
    case State::ChunkExtension:
    case State::ChunkSizeLineEnd:
        return Section::ChunkLine;
    case State::TrailerName:
    case State::TrailerColon:
    case State::TrailerValue:
    case State::TrailerLineEnd:
    case State::TrailersEnd:
        return Section::Trailers;
    case State::Body:
    case State::BodyEnd:
    case State::MessageEnd:
    case State::ChunkData:
    case State::ChunkDataEnd:
        break;
    }
    return Section::Unbounded;
}

qsizetype RequestParser::budgetOf(Section section)
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
    return std::numeric_limits<qsizetype>::max();
}

// A bounded section only ever sees its remaining budget of bytes: a token that would need a byte past
// the bound is refused, at the same byte however the input was split.
RequestParser::Token RequestParser::next(const char *data, qsizetype size)
{
    if (m_error != TokenKind::NeedMoreData)
        return {m_error, 0, 0};
    const Section section = sectionOf(m_state);
    const qsizetype visible = qMin(size, m_budget);
    const Token found = readState(data, visible);
    if (found.kind == TokenKind::NeedMoreData) {
        if (visible < size)
            return fail(TokenKind::TooLarge);
        return found;
    }
    if (isError(found.kind))
        return found;
    const Section nextSection = sectionOf(m_state);
    if (nextSection != section)
        m_budget = budgetOf(nextSection);
    else if (section != Section::Unbounded)
        m_budget -= found.consumed;
    return found;
}

RequestParser::Token RequestParser::readState(const char *data, qsizetype size)
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
RequestParser::Token RequestParser::readMethod(const char *data, qsizetype size)
{
    qsizetype i = m_scanned;
    while (i < size && isTokenChar(uchar(data[i])))
        ++i;
    if (i == size)
        return needMore(i);
    if (i == 0)
        return fail(TokenKind::InvalidData);
    m_state = State::MethodSpace;
    return token(TokenKind::Method, i, i);
}

// SP between method and request-target: exactly one.
RequestParser::Token RequestParser::readMethodSpace(const char *data, qsizetype size)
{
    if (size < 1)
        return needMore(0);
    if (data[0] != ' ')
        return fail(TokenKind::InvalidData);
    m_state = State::Target;
    return token(TokenKind::Skip, 1, 0);
}

// request-target = 1*target-char; whatever ends it must be the " HTTP/1." that follows.
RequestParser::Token RequestParser::readTarget(const char *data, qsizetype size)
{
    qsizetype i = m_scanned;
    while (i < size && isTargetChar(uchar(data[i])))
        ++i;
    if (i == size)
        return needMore(i);
    if (i == 0)
        return fail(TokenKind::InvalidData);
    m_state = State::VersionPrefix;
    return token(TokenKind::RequestTarget, i, i);
}

// " HTTP/1.", compared byte by byte: a request line of another major version is invalid data.
RequestParser::Token RequestParser::readVersionPrefix(const char *data, qsizetype size)
{
    static const char prefix[] = " HTTP/1.";
    const qsizetype prefixSize = sizeof(prefix) - 1;
    qsizetype i = m_scanned;
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
RequestParser::Token RequestParser::readVersionDigit(const char *data, qsizetype size)
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
RequestParser::Token RequestParser::readFieldName(const char *data, qsizetype size, bool trailer)
{
    qsizetype i = m_scanned;
    while (i < size && isTokenChar(uchar(data[i])))
        ++i;
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
        return {m_error, 0, 0};
    m_state = State::FieldColon;
    return token(TokenKind::FieldName, i, i);
}

// ":" *( SP / HTAB ); no space is allowed before the colon (RFC 7230 3.2.4).
RequestParser::Token RequestParser::readColon(const char *data, qsizetype size, State nextState)
{
    if (size < 1)
        return needMore(0);
    if (data[0] != ':')
        return fail(TokenKind::InvalidData);
    qsizetype i = qMax<qsizetype>(m_scanned, 1);
    while (i < size && isBlank(data[i]))
        ++i;
    if (i == size)
        return needMore(i);
    m_state = nextState;
    return token(TokenKind::Skip, i, 0);
}

// field-value = *( VCHAR / obs-text / SP / HTAB ) up to the line end, trailing blanks cut.
RequestParser::Token RequestParser::readFieldValue(const char *data, qsizetype size, bool trailer)
{
    qsizetype i = m_scanned;
    while (i < size && isValueChar(uchar(data[i])))
        ++i;
    if (i == size)
        return needMore(i);
    qsizetype valueSize = i;
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
RequestParser::Token RequestParser::readLineEnd(
    const char *data, qsizetype size, bool loneLf, State nextState)
{
    if (size < 1)
        return needMore(0);
    qsizetype lineEnd = 0;
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
RequestParser::Token RequestParser::readHeadEnd(const char *data, qsizetype size)
{
    const Token lineEnd = readLineEnd(data, size, true, State::BodyEnd);
    if (lineEnd.kind != TokenKind::Skip)
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
    return token(TokenKind::EndOfHeaders, lineEnd.consumed, 0);
}

// Body bytes: all that is there, up to what the length or the chunk size leaves.
RequestParser::Token RequestParser::readBody(const char *data, qsizetype size, State nextState)
{
    Q_UNUSED(data);
    if (size < 1)
        return needMore(0);
    const qsizetype take = quint64(size) < m_remaining ? size : qsizetype(m_remaining);
    m_remaining -= quint64(take);
    if (m_remaining == 0)
        m_state = nextState;
    return token(TokenKind::BodyChunk, take, take);
}

// chunk-size = 1*HEXDIG, at most 64 bits once leading zeros are skipped.
RequestParser::Token RequestParser::readChunkSize(const char *data, qsizetype size)
{
    qsizetype i = m_scanned;
    for (; i < size; ++i) {
        const int digit = hexDigitValue(uchar(data[i]));
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
RequestParser::Token RequestParser::readChunkExtension(const char *data, qsizetype size)
{
    qsizetype i = m_scanned;
    while (i < size && isValueChar(uchar(data[i])))
        ++i;
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
RequestParser::Token RequestParser::readChunkSizeLineEnd(const char *data, qsizetype size)
{
    const bool lastChunk = m_chunkSize == 0;
    const Token lineEnd = readLineEnd(data, size, false, lastChunk ? State::TrailerName : State::ChunkData);
    if (lineEnd.kind != TokenKind::Skip)
        return lineEnd;
    if (lastChunk)
        return token(TokenKind::EndOfBody, lineEnd.consumed, 0);
    m_remaining = m_chunkSize;
    m_chunkedBodySize += m_chunkSize;
    return lineEnd;
}

// The CR LF after the trailer fields ends the message.
RequestParser::Token RequestParser::readTrailersEnd(const char *data, qsizetype size)
{
    const Token lineEnd = readLineEnd(data, size, false, State::Method);
    if (lineEnd.kind != TokenKind::Skip)
        return lineEnd;
    startNextRequest();
    return token(TokenKind::EndOfMessage, lineEnd.consumed, 0);
}

// Host counts once on HTTP/1.1; Transfer-Encoding overrides Content-Length; a second length is refused.
void RequestParser::noteFieldName(const char *name, qsizetype size)
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
RequestParser::TokenKind RequestParser::noteContentLength(const char *value, qsizetype size)
{
    if (size == 0)
        return TokenKind::InvalidContentLength;
    quint64 length = 0;
    bool overflow = false;
    for (qsizetype i = 0; i < size; ++i) {
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
RequestParser::TokenKind RequestParser::noteTransferEncoding(const char *value, qsizetype size)
{
    bool chunkedSeen = false;
    qsizetype start = 0;
    while (start <= size) {
        qsizetype end = start;
        while (end < size && value[end] != ',')
            ++end;
        qsizetype first = start;
        qsizetype last = end;
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

RequestParser::Token RequestParser::token(TokenKind kind, qsizetype consumed, qsizetype valueSize)
{
    m_scanned = 0;
    return {kind, consumed, valueSize};
}

RequestParser::Token RequestParser::needMore(qsizetype scanned)
{
    m_scanned = scanned;
    return {TokenKind::NeedMoreData, 0, 0};
}

RequestParser::Token RequestParser::fail(TokenKind error)
{
    m_error = error;
    return {error, 0, 0};
}
