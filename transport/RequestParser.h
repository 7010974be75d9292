#pragma once

#include <QtGlobal>

#include <cstdint>

// Push tokenizer for HTTP/1.0 and HTTP/1.1 requests (message framing of RFC 7230, server side).
//
// The caller keeps the bytes; the tokenizer only looks at the range it is given. next() takes the bytes
// the caller has not consumed yet and returns the next token: its kind, how many of those bytes it
// consumed, and how many of them, from the first, are the token's value (method, target, field names and
// values, body bytes). After NeedMoreData the caller passes the same unconsumed bytes again with more
// appended: scanning resumes where it stopped, nothing is scanned twice. Errors are sticky.
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
        qsizetype consumed; // bytes of the range this token used up
        qsizetype valueSize; // the token's value: the first valueSize of those bytes
    };

    // Bounds on what a peer controls; beyond them the request is refused with TooLarge.
    // The request line and the header block of one request together, up to its empty line.
    static constexpr qsizetype kMaxHeadSize = 64 * 1024;
    // The body of one request: its Content-Length, or the sum of its chunk sizes.
    static constexpr quint64 kMaxBodySize = 64 * 1024 * 1024;
    // The trailer fields of a chunked request, up to the final empty line.
    static constexpr qsizetype kMaxTrailerSize = 64 * 1024;
    // One chunk-size line with its extension and line end; nothing else bounds leading zeros or extensions.
    static constexpr qsizetype kMaxChunkLineSize = 4 * 1024;

    static bool isError(TokenKind kind);

    Token next(const char *data, qsizetype size);

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

    static Section sectionOf(State state);
    static qsizetype budgetOf(Section section);

    Token readState(const char *data, qsizetype size);
    Token readMethod(const char *data, qsizetype size);
    Token readMethodSpace(const char *data, qsizetype size);
    Token readTarget(const char *data, qsizetype size);
    Token readVersionPrefix(const char *data, qsizetype size);
    Token readVersionDigit(const char *data, qsizetype size);
    Token readFieldName(const char *data, qsizetype size, bool trailer);
    Token readColon(const char *data, qsizetype size, State nextState);
    Token readFieldValue(const char *data, qsizetype size, bool trailer);
    Token readLineEnd(const char *data, qsizetype size, bool loneLf, State nextState);
    Token readHeadEnd(const char *data, qsizetype size);
    Token readBody(const char *data, qsizetype size, State nextState);
    Token readChunkSize(const char *data, qsizetype size);
    Token readChunkExtension(const char *data, qsizetype size);
    Token readChunkSizeLineEnd(const char *data, qsizetype size);
    Token readTrailersEnd(const char *data, qsizetype size);

    void noteFieldName(const char *name, qsizetype size);
    TokenKind noteContentLength(const char *value, qsizetype size);
    TokenKind noteTransferEncoding(const char *value, qsizetype size);
    void startNextRequest();

    Token token(TokenKind kind, qsizetype consumed, qsizetype valueSize);
    Token needMore(qsizetype scanned);
    Token fail(TokenKind error);

    State m_state = State::Method; // the element expected next
    TokenKind m_error = TokenKind::NeedMoreData; // the sticky error, once one was found
    qsizetype m_scanned = 0; // bytes of the pending token already scanned
    qsizetype m_budget = kMaxHeadSize; // bytes the current section may still take
    VersionState m_versionState = VersionState::Http10;
    Framing m_framing = Framing::None;
    quint64 m_remaining = 0; // body bytes left, of the body or of the current chunk
    quint64 m_chunkSize = 0; // the chunk size being read
    quint64 m_chunkedBodySize = 0; // chunk sizes of this request so far
};
