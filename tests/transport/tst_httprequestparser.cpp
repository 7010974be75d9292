#include "tests/transport/RequestParserTranscript.h"
#include "transport/RequestParser.h"

#include <QtTest>

using Kind = RequestParser::TokenKind;
Q_DECLARE_METATYPE(RequestParser::TokenKind)

namespace {

QByteArray errorLine(Kind kind)
{
    return "error=" + QByteArray::number(int(kind));
}

// Every input must tokenize the same whether it arrives whole, cut at any one offset, or byte by byte.
void verifySplitInvariance(const QByteArray &input, const QByteArray &whole)
{
    for (int cut = 1; cut < input.size(); ++cut)
        QCOMPARE(requestParserTranscript(input, {cut}), whole);
    QVector<int> everyByte;
    for (int cut = 1; cut < input.size(); ++cut)
        everyByte.append(cut);
    QCOMPARE(requestParserTranscript(input, everyByte), whole);
}

} // namespace

class TestHttpRequestParser : public QObject
{
    Q_OBJECT
private slots:
    void tokens_data();
    void tokens();
    void errors_data();
    void errors();
    void targetCharacters_data();
    void targetCharacters();
    void bounds_data();
    void bounds();
    void bodyBound();
    void errorIsSticky();
};

void TestHttpRequestParser::tokens_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("get 1.1") << QByteArray("GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n")
                             << QByteArray("m=GET t=/index.html v=1 n=Host f=a H B E");
    QTest::newRow("get 1.0 without host")
        << QByteArray("GET /x?y=1&z=%20 HTTP/1.0\r\n\r\n") << QByteArray("m=GET t=/x?y=1&z=%20 v=0 H B E");
    QTest::newRow("two hosts on 1.0") << QByteArray("GET / HTTP/1.0\r\nHost: a\r\nhost: b\r\n\r\n")
                                      << QByteArray("m=GET t=/ v=0 n=Host f=a n=host f=b H B E");
    QTest::newRow("1.5 is a 1.1 digit")
        << QByteArray("GET / HTTP/1.5\r\nHOST: a\r\n\r\n") << QByteArray("m=GET t=/ v=5 n=HOST f=a H B E");
    QTest::newRow("lone LF in head") << QByteArray("GET / HTTP/1.1\nHost: a\nX: y\r\n\n")
                                     << QByteArray("m=GET t=/ v=1 n=Host f=a n=X f=y H B E");
    QTest::newRow("value blanks cut") << QByteArray("GET / HTTP/1.1\r\nHost:  \t a b \t \r\nEmpty:\r\n\r\n")
                                      << QByteArray("m=GET t=/ v=1 n=Host f=a b n=Empty f= H B E");
    QTest::newRow("obs-text value") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX: caf\xc3\xa9\r\n\r\n")
                                    << QByteArray("m=GET t=/ v=1 n=Host f=a n=X f=caf\xc3\xa9 H B E");
    QTest::newRow("absolute target") << QByteArray("GET http://h:1/p HTTP/1.1\r\nHost: h\r\n\r\n")
                                     << QByteArray("m=GET t=http://h:1/p v=1 n=Host f=h H B E");
    QTest::newRow("length 007") << QByteArray(
        "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 007\r\n\r\nabcdefgGET")
                                << QByteArray(
                                       "m=POST t=/ v=1 n=Host f=a n=Content-Length f=007 H b=abcdefg B E");
    QTest::newRow("length 0") << QByteArray("POST / HTTP/1.1\r\nHost: a\r\ncontent-length: 0\r\n\r\n")
                              << QByteArray("m=POST t=/ v=1 n=Host f=a n=content-length f=0 H B E");
    QTest::newRow("length max digits with zeros")
        << QByteArray("POST / HTTP/1.0\r\nContent-Length: 000000000000000000000000003\r\n\r\nabc")
        << QByteArray("m=POST t=/ v=0 n=Content-Length f=000000000000000000000000003 H b=abc B E");
    QTest::newRow("chunked with extension and trailers")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "3;name=\"v\" \t\r\nabc\r\n0A\r\n0123456789\r\n0\r\nT1: v1 \r\nT2:\r\n\r\n")
        << QByteArray("m=POST t=/ v=1 n=Host f=a n=Transfer-Encoding f=chunked H b=abc0123456789 B "
                      "tn=T1 tv=v1 tn=T2 tv= E");
    QTest::newRow("chunked without trailers")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: CHUNKED\r\n\r\n1\r\nx\r\n0\r\n\r\n")
        << QByteArray("m=POST t=/ v=1 n=Host f=a n=Transfer-Encoding f=CHUNKED H b=x B E");
    QTest::newRow("chunk size with leading zeros")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "000000000000000000000002\r\nab\r\n00\r\n\r\n")
        << QByteArray("m=POST t=/ v=1 n=Host f=a n=Transfer-Encoding f=chunked H b=ab B E");
    QTest::newRow("gzip then chunked")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip , ,chunked\r\n\r\n0\r\n\r\n")
        << QByteArray("m=POST t=/ v=1 n=Host f=a n=Transfer-Encoding f=gzip , ,chunked H B E");
    QTest::newRow("gzip field then chunked field")
        << QByteArray(
               "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n"
               "0\r\n\r\n")
        << QByteArray(
               "m=POST t=/ v=1 n=Host f=a n=Transfer-Encoding f=gzip n=Transfer-Encoding f=chunked H B E");
    QTest::newRow("encoding overrides an earlier length")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 9\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "1\r\nz\r\n0\r\n\r\n")
        << QByteArray(
               "m=POST t=/ v=1 n=Host f=a n=Content-Length f=9 n=Transfer-Encoding f=chunked H b=z B E");
    QTest::newRow("length after encoding is ignored")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nContent-Length: x\r\n"
                      "Content-Length: 4\r\n\r\n1\r\nz\r\n0\r\n\r\n")
        << QByteArray("m=POST t=/ v=1 n=Host f=a n=Transfer-Encoding f=chunked n=Content-Length f=x "
                      "n=Content-Length f=4 H b=z B E");
    QTest::newRow("pipelined") << QByteArray("GET /1 HTTP/1.1\r\nHost: a\r\n\r\nGET /2 HTTP/1.0\r\n\r\nGE")
                               << QByteArray("m=GET t=/1 v=1 n=Host f=a H B E m=GET t=/2 v=0 H B E");
    QTest::newRow("incomplete head") << QByteArray("PUT /a HTTP/1.1\r\nHost: a\r\nX-Lo")
                                     << QByteArray("m=PUT t=/a v=1 n=Host f=a");
}

void TestHttpRequestParser::tokens()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QByteArray whole = requestParserTranscript(input);
    QCOMPARE(whole, expected);
    verifySplitInvariance(input, whole);
}

void TestHttpRequestParser::errors_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Kind>("error");

    const QByteArray get11 = "GET / HTTP/1.1\r\nHost: a\r\n";
    const QByteArray post11 = "POST / HTTP/1.1\r\nHost: a\r\n";
    const QByteArray chunked = post11 + "Transfer-Encoding: chunked\r\n\r\n";

    QTest::newRow("1.1 without host") << QByteArray("GET / HTTP/1.1\r\nX: y\r\n\r\n") << Kind::HostError;
    QTest::newRow("1.5 without host") << QByteArray("GET / HTTP/1.5\r\n\r\n") << Kind::HostError;
    QTest::newRow("1.1 with two hosts") << get11 + "host: a\r\n" << Kind::HostError;
    QTest::newRow("http/2.0") << QByteArray("GET / HTTP/2.0\r\n") << Kind::InvalidData;
    QTest::newRow("lower-case version") << QByteArray("GET / http/1.1\r\n") << Kind::InvalidData;
    QTest::newRow("version letter") << QByteArray("GET / HTTP/1.x\r\n") << Kind::InvalidData;
    QTest::newRow("empty method") << QByteArray(" / HTTP/1.1\r\n") << Kind::InvalidData;
    QTest::newRow("empty line before request") << QByteArray("\r\nGET / HTTP/1.1\r\n") << Kind::InvalidData;
    QTest::newRow("separator in method") << QByteArray("GE(T / HTTP/1.1\r\n") << Kind::InvalidData;
    QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n") << Kind::InvalidData;
    QTest::newRow("no target") << QByteArray("GET HTTP/1.1\r\n") << Kind::InvalidData;
    QTest::newRow("bare CR") << QByteArray("GET / HTTP/1.1\rHost: a\r\n") << Kind::InvalidData;
    QTest::newRow("obs-fold") << get11 + "X: a\r\n b\r\n\r\n" << Kind::InvalidData;
    QTest::newRow("space before colon") << QByteArray("GET / HTTP/1.1\r\nHost : a\r\n") << Kind::InvalidData;
    QTest::newRow("control in value") << get11 + "X: a\x01z\r\n" << Kind::InvalidData;
    QTest::newRow("DEL in value") << get11 + "X: a\x7fz\r\n" << Kind::InvalidData;
    QTest::newRow("two lengths, equal") << post11 + "Content-Length: 3\r\nContent-Length: 3\r\n"
                                        << Kind::InvalidContentLength;
    QTest::newRow("length with letter") << post11 + "Content-Length: 1a\r\n" << Kind::InvalidContentLength;
    QTest::newRow("length hex") << post11 + "Content-Length: 0x10\r\n" << Kind::InvalidContentLength;
    QTest::newRow("length signed") << post11 + "Content-Length: +1\r\n" << Kind::InvalidContentLength;
    QTest::newRow("length empty") << post11 + "Content-Length: \r\n" << Kind::InvalidContentLength;
    QTest::newRow("length list") << post11 + "Content-Length: 1, 1\r\n" << Kind::InvalidContentLength;
    QTest::newRow("length 2^64") << post11 + "Content-Length: 18446744073709551616\r\n"
                                 << Kind::ContentLengthOverflow;
    QTest::newRow("length 2^64-1 is past the body bound")
        << post11 + "Content-Length: 18446744073709551615\r\n\r\n"
        << Kind::TooLarge;
    QTest::newRow("chunked then gzip") << post11 + "Transfer-Encoding: chunked, gzip\r\n"
                                       << Kind::InvalidTransferEncoding;
    QTest::newRow("chunked twice in one field") << post11 + "Transfer-Encoding: chunked,chunked\r\n"
                                                << Kind::InvalidTransferEncoding;
    QTest::newRow("chunked in two fields")
        << post11 + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n"
        << Kind::InvalidTransferEncoding;
    QTest::newRow("gzip alone") << post11 + "Transfer-Encoding: gzip\r\n\r\n"
                                << Kind::InvalidTransferEncoding;
    QTest::newRow("empty encoding") << post11 + "Transfer-Encoding: \r\n\r\n"
                                    << Kind::InvalidTransferEncoding;
    QTest::newRow("no chunk size") << chunked + "\r\n" << Kind::InvalidData;
    QTest::newRow("chunk size 2^64") << chunked + "10000000000000000\r\n" << Kind::ChunkSizeOverflow;
    QTest::newRow("chunk size 2^64-1 is past the body bound") << chunked + "FFFFFFFFFFFFFFFF\r\n"
                                                              << Kind::TooLarge;
    QTest::newRow("lone LF after chunk size") << chunked + "3\nabc\r\n" << Kind::InvalidData;
    QTest::newRow("lone LF after extension") << chunked + "3;x\nabc\r\n" << Kind::InvalidData;
    QTest::newRow("control in extension") << chunked + "3;\x01\r\n" << Kind::InvalidData;
    QTest::newRow("lone LF after chunk data") << chunked + "3\r\nabc\n" << Kind::InvalidData;
    QTest::newRow("chunk data too long") << chunked + "3\r\nabcd\r\n" << Kind::InvalidData;
    QTest::newRow("lone LF after last chunk") << chunked + "0\n\r\n" << Kind::InvalidData;
    QTest::newRow("lone LF after trailer") << chunked + "0\r\nT: v\n\r\n" << Kind::InvalidData;
    QTest::newRow("lone LF ending trailers") << chunked + "0\r\n\n" << Kind::InvalidData;
    QTest::newRow("folded trailer") << chunked + "0\r\nT: v\r\n w\r\n\r\n" << Kind::InvalidData;
    QTest::newRow("error after a complete request")
        << QByteArray("GET / HTTP/1.0\r\n\r\nGET / HTTP/1.1\r\n\r\n") << Kind::HostError;
}

void TestHttpRequestParser::errors()
{
    QFETCH(QByteArray, input);
    QFETCH(Kind, error);
    const QByteArray whole = requestParserTranscript(input);
    QVERIFY2(whole.endsWith(errorLine(error)), whole.constData());
    verifySplitInvariance(input, whole);
}

void TestHttpRequestParser::targetCharacters_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("every allowed class") << QByteArray("/!$%&'()*+,-./09:;=?@AZ_az~") << true;
    for (const char c : QByteArray("#\"<>[\\]^`{|}\t\x7f\x80\xff")) {
        if (c == '\0')
            continue;
        QTest::addRow("0x%02x", uchar(c)) << QByteArray("/a") + c + "b" << false;
    }
    QTest::newRow("NUL") << QByteArray("/a\0b", 4) << false;
}

void TestHttpRequestParser::targetCharacters()
{
    QFETCH(QByteArray, target);
    QFETCH(bool, accepted);
    const QByteArray input = "GET " + target + " HTTP/1.0\r\n\r\n";
    const QByteArray whole = requestParserTranscript(input);
    QCOMPARE(whole, accepted ? "m=GET t=" + target + " v=0 H B E" : QByteArray("m=GET t=/a error=3"));
    verifySplitInvariance(input, whole);
}

// The head, one chunk-size line and the trailers each have a bound: at the bound the request is read,
// one byte past it the request is refused, wherever the input is cut.
void TestHttpRequestParser::bounds_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("accepted");

    const auto head = [](int size) {
        QByteArray bytes = "GET / HTTP/1.0\r\nX: ";
        bytes += QByteArray(int(size - bytes.size() - 4), 'v');
        return bytes + "\r\n\r\n";
    };
    QTest::newRow("head at bound") << head(RequestParser::kMaxHeadSize) << true;
    QTest::newRow("head past bound") << head(RequestParser::kMaxHeadSize + 1) << false;

    const QByteArray chunkedHead = "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n";
    const auto chunkLine = [&](int size) {
        QByteArray line = "1;";
        line += QByteArray(int(size - line.size() - 2), 'e');
        return chunkedHead + line + "\r\nx\r\n0\r\n\r\n";
    };
    QTest::newRow("chunk line at bound") << chunkLine(RequestParser::kMaxChunkLineSize) << true;
    QTest::newRow("chunk line past bound") << chunkLine(RequestParser::kMaxChunkLineSize + 1) << false;

    const auto trailers = [&](int size) {
        QByteArray bytes = "T: ";
        bytes += QByteArray(int(size - bytes.size() - 4), 't');
        return chunkedHead + "0\r\n" + bytes + "\r\n\r\n";
    };
    QTest::newRow("trailers at bound") << trailers(RequestParser::kMaxTrailerSize) << true;
    QTest::newRow("trailers past bound") << trailers(RequestParser::kMaxTrailerSize + 1) << false;
}

void TestHttpRequestParser::bounds()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, accepted);
    const QByteArray whole = requestParserTranscript(input);
    QCOMPARE(whole.endsWith(" E"), accepted);
    QCOMPARE(whole.endsWith(errorLine(Kind::TooLarge)), !accepted);
    // Cutting inside the bounded stretch, at its last byte and after it must not move the bound.
    for (int cut : {1, 100, input.size() / 2, input.size() - 5, input.size() - 1})
        QCOMPARE(requestParserTranscript(input, {cut}), whole);
}

// A body of exactly the bound is read, by length or by chunks; one byte more is refused before it arrives.
// The parser is driven directly here: 64 MiB of body are not worth copying into a transcript.
void TestHttpRequestParser::bodyBound()
{
    // Feeds bytes as one piece; returns the kinds of the tokens found but skips, up to more-data or an error.
    const auto kinds = [](RequestParser &parser, const QByteArray &bytes) {
        QVector<Kind> found;
        int consumed = 0;
        for (;;) {
            const RequestParser::Token token
                = parser.next(bytes.constData() + consumed, bytes.size() - consumed);
            if (token.kind == Kind::NeedMoreData)
                return found;
            if (token.kind != Kind::Skip)
                found.append(token.kind);
            if (RequestParser::isError(token.kind))
                return found;
            consumed += token.consumed;
        }
    };
    const QByteArray post = "POST / HTTP/1.1\r\nHost: a\r\n";
    const QByteArray almostAll(int(RequestParser::kMaxBodySize - 1), 'x');

    RequestParser byLength;
    QCOMPARE(kinds(byLength,
                 post + "Content-Length: " + QByteArray::number(RequestParser::kMaxBodySize) + "\r\n\r\n")
                 .last(),
        Kind::EndOfHeaders);
    QCOMPARE(kinds(byLength, almostAll), QVector<Kind>({Kind::BodyChunk}));
    QCOMPARE(kinds(byLength, "x"), QVector<Kind>({Kind::BodyChunk, Kind::EndOfBody, Kind::EndOfMessage}));
    RequestParser pastLength;
    QCOMPARE(kinds(pastLength,
                 post + "Content-Length: " + QByteArray::number(RequestParser::kMaxBodySize + 1) + "\r\n\r\n")
                 .last(),
        Kind::TooLarge);

    const QByteArray chunkedHead = post + "Transfer-Encoding: chunked\r\n\r\n";
    const QByteArray firstChunkSize = QByteArray::number(RequestParser::kMaxBodySize - 1, 16) + "\r\n";
    for (const bool past : {false, true}) {
        RequestParser chunked;
        QCOMPARE(kinds(chunked, chunkedHead + firstChunkSize).last(), Kind::EndOfHeaders);
        QCOMPARE(kinds(chunked, almostAll), QVector<Kind>({Kind::BodyChunk}));
        const QVector<Kind> rest = kinds(chunked, past ? "\r\n2\r\n" : "\r\n1\r\ny\r\n0\r\n\r\n");
        QCOMPARE(rest.last(), past ? Kind::TooLarge : Kind::EndOfMessage);
    }
}

void TestHttpRequestParser::errorIsSticky()
{
    RequestParser parser;
    const QByteArray bad = "GET / HTTP/2.0\r\n";
    int consumed = 0;
    RequestParser::Token token {};
    do {
        token = parser.next(bad.constData() + consumed, bad.size() - consumed);
        consumed += token.consumed;
    } while (!RequestParser::isError(token.kind) && token.kind != Kind::NeedMoreData);
    QCOMPARE(token.kind, Kind::InvalidData);
    const QByteArray good = "GET / HTTP/1.0\r\n\r\n";
    token = parser.next(good.constData(), good.size());
    QCOMPARE(token.kind, Kind::InvalidData);
    QCOMPARE(token.consumed, int(0));
}

QTEST_APPLESS_MAIN(TestHttpRequestParser)
#include "tst_httprequestparser.moc"
