#pragma once

#include "transport/WebSocketFrameReader.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

// What a frame reader found in some input, one line per finding ("message 5: Hello", "refused 1002"),
// and how many bytes it left unconsumed when it refused. Shared by the reader's tests and its fuzz target:
// the same input cut at any offsets must give the same transcript.
struct FrameReaderTranscript
{
    QList<QByteArray> lines;
    int unconsumed = 0; // bytes given after the refusal, never looked at

    bool operator==(const FrameReaderTranscript &other) const
    {
        return lines == other.lines && unconsumed == other.unconsumed;
    }
};

inline QByteArray describeFinding(WebSocketFrameReader &reader, WebSocketFrameReader::Found found)
{
    using Found = WebSocketFrameReader::Found;
    const auto withPayload = [&](const char *what) {
        const QByteArray payload = reader.takePayload();
        return QByteArray(what) + ' ' + QByteArray::number(payload.size()) + ": "
            + (payload.size() <= 64 ? payload : payload.left(32) + "...");
    };
    switch (found) {
    case Found::Message:
        return withPayload("message");
    case Found::Close:
        return withPayload("close");
    case Found::Ping:
        return withPayload("ping");
    case Found::Pong:
        return withPayload("pong");
    case Found::Refused:
        return "refused " + QByteArray::number(reader.refusalStatus());
    case Found::NeedMore:
        break;
    }
    return QByteArray();
}

// Reads input handed over in pieces cut at the given offsets, as a socket would.
inline FrameReaderTranscript readInPieces(const QByteArray &input, const QVector<int> &cuts)
{
    using Found = WebSocketFrameReader::Found;
    WebSocketFrameReader reader;
    FrameReaderTranscript transcript;
    int from = 0;
    for (int i = 0; i <= cuts.size(); ++i) {
        const int to = i < cuts.size() ? cuts[i] : input.size();
        int pos = from;
        while (pos < to) {
            const WebSocketFrameReader::Result result = reader.read(input.constData() + pos, to - pos);
            if (result.consumed < 0 || result.consumed > to - pos) {
                transcript.lines << "consumed out of range";
                return transcript;
            }
            pos += result.consumed;
            if (result.found == Found::Refused) {
                transcript.lines << describeFinding(reader, result.found);
                transcript.unconsumed = input.size() - pos;
                return transcript;
            }
            if (result.found == Found::NeedMore) {
                if (pos != to)
                    transcript.lines << "need more with bytes left";
                break;
            }
            transcript.lines << describeFinding(reader, result.found);
        }
        from = to;
    }
    return transcript;
}
