#pragma once

#include <QtGlobal>

// Push tokenizer for HTTP/1.0 and HTTP/1.1 requests (message framing of RFC 7230, server side).
//
// The caller keeps the bytes; the tokenizer only looks at the range it is given. next() takes the bytes
// the caller has not consumed yet and returns the next token: its kind, how many of those bytes it
// consumed, and how many of them, from the first, are the token's value (method, target, field names and
// values, body bytes). After NeedMoreData the caller passes the same unconsumed bytes again with more
// appended: scanning resumes where it stopped, nothing is scanned twice. Errors are sticky.
// Separators, line ends and chunk framing already in view are counted in the consumed bytes of the token
// before them; only what arrives apart from its token comes out as a skip token of its own.
class RequestParser
{
public:
    // The codes are fixed: 1, 2, 13 and 14 belong to reading responses, which this service never does.
    enum class TokenKind : int {
        NeedMoreData = 0,
        InvalidData = 3,
        HostError = 4, // Host missing or repeated in HTTP/1.1
        InvalidContentLength = 5,
        ContentLengthOverflow = 6,
        InvalidTransferEncoding = 7,
        ChunkSizeOverflow = 8,
        Skip = 9, // separators, line ends, chunk framing
        Method = 10,
        RequestTarget = 11,
        Version = 12, // the digit after "HTTP/1."
        FieldName = 15,
        FieldValue = 16, // trailing spaces and tabs are not part of the value
        EndOfHeaders = 17,
        BodyChunk = 18,
        EndOfBody = 19,
        TrailerName = 20,
        TrailerValue = 21,
        EndOfMessage = 22,
        TooLarge = 23, // a bound below was crossed
    };

    struct Token
    {
        TokenKind kind;
        int consumed; // bytes of the range this token used up
        int valueSize; // the token's value: the first valueSize of those bytes
    };

    // Bounds on what a peer controls; beyond them the request is refused with TooLarge.
    // The request line and the header block of one request together, up to its empty line.
    static constexpr int kMaxHeadSize = 64 * 1024;
    // The body of one request: its Content-Length, or the sum of its chunk sizes.
    static constexpr quint64 kMaxBodySize = 64 * 1024 * 1024;
    // The trailer fields of a chunked request, up to the final empty line.
    static constexpr int kMaxTrailerSize = 64 * 1024;
    // One chunk-size line with its extension and line end; nothing else bounds leading zeros or extensions.
    static constexpr int kMaxChunkLineSize = 4 * 1024;

    static constexpr bool isError(TokenKind kind)
    {
        return (kind >= TokenKind::InvalidData && kind <= TokenKind::ChunkSizeOverflow)
            || kind == TokenKind::TooLarge;
    }

    Token next(const char *data, int size)
    {
        const TokenKind kind = advance(data, size);
        return {kind, m_consumed, m_valueSize};
    }

private:
    enum class State {
        Method,
        MethodSpace,
        Target,
        VersionPrefix,
        VersionDigit,
        RequestLineEnd,
        FieldName,
        FieldColon,
        FieldValue,
        FieldLineEnd,
        HeadEnd,
        Body,
        BodyEnd,
        MessageEnd,
        ChunkSize,
        ChunkExtension,
        ChunkSizeLineEnd,
        ChunkData,
        ChunkDataEnd,
        TrailerName,
        TrailerColon,
        TrailerValue,
        TrailerLineEnd,
        TrailersEnd,
    };
    // The stretch of the message a bound applies to.
    enum class Section { Unbounded, Head, ChunkLine, Trailers };
    enum class Framing {
        None,
        LengthKnown,
        Chunked,
        AwaitingLength,
        AwaitingEncoding,
        EncodingWithoutChunked
    };
    enum class VersionState { Http10, Http11WithoutHost, Http11WithHost };

    // What a state's token is: a skip always, a skip unless the chunk is the last (whose chunk-size line
    // ends the body), or something else.
    enum class Skips { Never, Always, UnlessLastChunk };
    struct StateTraits
    {
        Section section;
        Skips skips;
    };
    // One row per state, in the order of State.
    static constexpr StateTraits kStateTraits[] = {
        {Section::Head, Skips::Never}, // Method
        {Section::Head, Skips::Always}, // MethodSpace
        {Section::Head, Skips::Never}, // Target
        {Section::Head, Skips::Always}, // VersionPrefix
        {Section::Head, Skips::Never}, // VersionDigit
        {Section::Head, Skips::Always}, // RequestLineEnd
        {Section::Head, Skips::Never}, // FieldName
        {Section::Head, Skips::Always}, // FieldColon
        {Section::Head, Skips::Never}, // FieldValue
        {Section::Head, Skips::Always}, // FieldLineEnd
        {Section::Head, Skips::Never}, // HeadEnd
        {Section::Unbounded, Skips::Never}, // Body
        {Section::Unbounded, Skips::Never}, // BodyEnd
        {Section::Unbounded, Skips::Never}, // MessageEnd
        {Section::ChunkLine, Skips::Always}, // ChunkSize
        {Section::ChunkLine, Skips::UnlessLastChunk}, // ChunkExtension
        {Section::ChunkLine, Skips::UnlessLastChunk}, // ChunkSizeLineEnd
        {Section::Unbounded, Skips::Never}, // ChunkData
        {Section::Unbounded, Skips::Always}, // ChunkDataEnd
        {Section::Trailers, Skips::Never}, // TrailerName
        {Section::Trailers, Skips::Always}, // TrailerColon
        {Section::Trailers, Skips::Never}, // TrailerValue
        {Section::Trailers, Skips::Always}, // TrailerLineEnd
        {Section::Trailers, Skips::Never}, // TrailersEnd
    };
    static_assert(sizeof(kStateTraits) / sizeof(kStateTraits[0]) == int(State::TrailersEnd) + 1);
    static constexpr Section sectionOf(State state) { return kStateTraits[int(state)].section; }
    bool nextTokenIsSkip() const
    {
        const Skips skips = kStateTraits[int(m_state)].skips;
        return skips == Skips::Always || (skips == Skips::UnlessLastChunk && m_chunkSize != 0);
    }
    static int budgetOf(Section section);

    TokenKind advance(const char *data, int size);
    TokenKind readState(const char *data, int size);
    TokenKind readMethod(const char *data, int size);
    TokenKind readMethodSpace(const char *data, int size);
    TokenKind readTarget(const char *data, int size);
    TokenKind readVersionPrefix(const char *data, int size);
    TokenKind readVersionDigit(const char *data, int size);
    TokenKind readFieldName(const char *data, int size, bool trailer);
    TokenKind readColon(const char *data, int size, State nextState);
    TokenKind readFieldValue(const char *data, int size, bool trailer);
    TokenKind readLineEnd(const char *data, int size, bool loneLf, State nextState);
    TokenKind readHeadEnd(const char *data, int size);
    TokenKind readBody(const char *data, int size, State nextState);
    TokenKind readChunkSize(const char *data, int size);
    TokenKind readChunkExtension(const char *data, int size);
    TokenKind readChunkSizeLineEnd(const char *data, int size);
    TokenKind readTrailersEnd(const char *data, int size);

    void noteFieldName(const char *name, int size);
    TokenKind noteContentLength(const char *value, int size);
    TokenKind noteTransferEncoding(const char *value, int size);
    void startNextRequest();

    TokenKind readBounded(const char *data, int size);

    // Every state ends in one of these three.
    TokenKind token(TokenKind kind, int consumed, int valueSize, int scanned = 0)
    {
        m_scanned = scanned;
        m_consumed = consumed;
        m_valueSize = valueSize;
        return kind;
    }
    TokenKind needMore(int scanned) { return token(TokenKind::NeedMoreData, 0, 0, scanned); }
    TokenKind fail(TokenKind error)
    {
        m_error = error;
        return token(error, 0, 0);
    }

    State m_state = State::Method; // the element expected next
    TokenKind m_error = TokenKind::NeedMoreData; // the sticky error, once one was found
    // (m_consumed and m_valueSize apart: stored as one word, they would be slow to read back singly.)
    int m_consumed = 0; // bytes the current token used up
    int m_budget = kMaxHeadSize; // bytes the current section may still take
    int m_valueSize = 0; // bytes of the current token's value, from its start
    int m_scanned = 0; // bytes of the pending token already scanned
    VersionState m_versionState = VersionState::Http10;
    Framing m_framing = Framing::None;
    quint64 m_remaining = 0; // body bytes left, of the body or of the current chunk
    quint64 m_chunkSize = 0; // the chunk size being read
    quint64 m_chunkedBodySize = 0; // chunk sizes of this request so far
};
