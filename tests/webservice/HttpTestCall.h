#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

// One HTTP request on a connection of its own, driven by the caller's event loop (the server under test
// may run on the same thread). The answer is complete when the server closes the connection.
class HttpTestCall : public QObject
{
    Q_OBJECT

public:
    HttpTestCall(quint16 port, const QByteArray &request);

    static QByteArray post(const QByteArray &body);
    static QByteArray get(const QByteArray &target);

    // More bytes of the request.
    void write(const QByteArray &bytes) { m_socket.write(bytes); }

    bool isClosed() const { return m_closed; }
    // The bytes as received.
    const QByteArray &raw() const { return m_raw; }
    // The final status line and the body (chunks joined), interim answers skipped.
    QByteArray statusLine() const;
    QByteArray header(const QByteArray &name) const;
    QByteArray body() const;

private:
    QByteArray finalAnswer() const;

    QTcpSocket m_socket;
    QByteArray m_raw;
    bool m_closed = false;
};
