#pragma once

#include "tests/transport/tst_websocket_memorysocket.h"
#include "transport/Headers.h"
#include "transport/HttpServerRequest.h"
#include "transport/WebSocket.h"

#include <QList>
#include <QPointer>
#include <QVector>

// Helpers shared by the WebSocket tests, its fuzz target and its benchmark.

const QByteArray kRfcKey = "dGhlIHNhbXBsZSBub25jZQ==";

inline QByteArray upgradeRequest(const QByteArray &fields)
{
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\n" + fields + "\r\n";
}

inline QByteArray defaultUpgradeRequest()
{
    return upgradeRequest(
        "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " + kRfcKey + "\r\n");
}

// One accepted connection on a memory socket; records what the endpoint reports.
class Endpoint
{
public:
    explicit Endpoint(
        const QByteArray &requestBytes = defaultUpgradeRequest(), const Headers &extraHeaders = {})
        : socket(new MemorySocket)
    {
        QObject::connect(&ws, &WebSocket::newMessage, [this](const QByteArray &msg) { messages << msg; });
        QObject::connect(&ws, &WebSocket::pong, [this](const QByteArray &data) { pongs << data; });
        QObject::connect(&ws, &WebSocket::connected, [this] { ++connects; });
        QObject::connect(&ws, &WebSocket::disconnected, [this] { ++disconnects; });

        // The owner's part: hand the upgrade request and the bytes after it to the endpoint.
        HttpServerRequest request(*socket, nullptr);
        QObject::connect(&request, &HttpServerRequest::upgrade, [&] {
            upgraded = true;
            accepted = ws.acceptHandshake(request, request.takeBody(), extraHeaders);
        });
        socket->receive(requestBytes);
    }
    ~Endpoint() { delete socket.data(); }

    QPointer<MemorySocket> socket; // deleted by the endpoint once disconnected
    WebSocket ws;
    bool upgraded = false;
    bool accepted = false;
    QList<QByteArray> messages;
    QList<QByteArray> pongs;
    int connects = 0;
    int disconnects = 0;
};

// What a connection did with its input: compared between different splits of the same bytes.
struct Outcome
{
    QList<QByteArray> messages;
    QList<QByteArray> pongs;
    QByteArray written;
    int errorCode = 0;
    bool socketOpen = true;

    bool operator==(const Outcome &other) const
    {
        return messages == other.messages && pongs == other.pongs && written == other.written
            && errorCode == other.errorCode && socketOpen == other.socketOpen;
    }
};

// Reads input cut at the given offsets on a fresh connection.
inline Outcome receiveInPieces(const QByteArray &input, const QVector<int> &cuts)
{
    Endpoint endpoint;
    endpoint.socket->takeWritten();
    int from = 0;
    for (int cut : cuts) {
        endpoint.socket->receive(input.mid(from, cut - from));
        from = cut;
    }
    endpoint.socket->receive(input.mid(from));
    return {endpoint.messages, endpoint.pongs, endpoint.socket->written(), endpoint.ws.errorCode(),
        endpoint.socket->isOpen()};
}
