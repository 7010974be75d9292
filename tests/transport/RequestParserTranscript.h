#pragma once

#include "transport/RequestParser.h"

#include <QByteArray>
#include <QVector>

// Runs the tokenizer over input delivered in pieces (cut before each offset in cuts, ascending) the way
// the request reader does, and writes what it found as one line: skip tokens are left out and adjacent
// body chunks joined, so every way of splitting the same bytes must give the same line.
// Tokens: "m=" method, "t=" target, "v=" version digit, "n=" / "f=" field name / value, "H" end of
// headers, "b=" body, "B" end of body, "tn=" / "tv=" trailer name / value, "E" end of message;
// "error=N" ends the line at an error.
inline QByteArray requestParserTranscript(const QByteArray &input, const QVector<int> &cuts = {})
{
    using Kind = RequestParser::TokenKind;
    RequestParser parser;
    QByteArray buffer;
    QByteArray line;
    bool inBody = false;
    int delivered = 0;
    for (int p = 0; p <= cuts.size(); ++p) {
        const int until = p < cuts.size() ? cuts.at(p) : input.size();
        buffer.append(input.constData() + delivered, until - delivered);
        delivered = until;
        int consumed = 0;
        for (;;) {
            const RequestParser::Token token
                = parser.next(buffer.constData() + consumed, buffer.size() - consumed);
            if (token.kind == Kind::NeedMoreData)
                break;
            if (RequestParser::isError(token.kind))
                return line + "error=" + QByteArray::number(int(token.kind));
            const QByteArray value(buffer.constData() + consumed, int(token.valueSize));
            consumed += token.consumed;
            if (token.kind == Kind::Skip)
                continue;
            if (token.kind == Kind::BodyChunk) {
                line += inBody ? value : "b=" + value;
                inBody = true;
                continue;
            }
            if (inBody)
                line += ' ';
            inBody = false;
            switch (token.kind) {
            case Kind::Method:
                line += "m=" + value + ' ';
                break;
            case Kind::RequestTarget:
                line += "t=" + value + ' ';
                break;
            case Kind::Version:
                line += "v=" + value + ' ';
                break;
            case Kind::FieldName:
                line += "n=" + value + ' ';
                break;
            case Kind::FieldValue:
                line += "f=" + value + ' ';
                break;
            case Kind::EndOfHeaders:
                line += "H ";
                break;
            case Kind::EndOfBody:
                line += "B ";
                break;
            case Kind::TrailerName:
                line += "tn=" + value + ' ';
                break;
            case Kind::TrailerValue:
                line += "tv=" + value + ' ';
                break;
            case Kind::EndOfMessage:
                line += "E ";
                break;
            default:
                break;
            }
        }
        buffer.remove(0, int(consumed));
    }
    return line.trimmed();
}
