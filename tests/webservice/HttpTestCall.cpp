#include "HttpTestCall.h"

#include <QHostAddress>

HttpTestCall::HttpTestCall(quint16 port, const QByteArray &request)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] { m_raw += m_socket.readAll(); });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        m_raw += m_socket.readAll();
        m_closed = true;
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            m_closed = true;
    });
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    m_socket.write(request);
}

QByteArray HttpTestCall::post(const QByteArray &body)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray HttpTestCall::get(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

QByteArray HttpTestCall::finalAnswer() const
{
    QByteArray answer = m_raw;
    while (answer.startsWith("HTTP/1.1 100 ") || answer.startsWith("HTTP/1.0 100 "))
        answer = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    return answer;
}

QByteArray HttpTestCall::statusLine() const
{
    const QByteArray answer = finalAnswer();
    return answer.left(answer.indexOf("\r\n"));
}

QByteArray HttpTestCall::header(const QByteArray &name) const
{
    const QByteArray answer = finalAnswer();
    const QList<QByteArray> lines = answer.left(answer.indexOf("\r\n\r\n")).split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QByteArray HttpTestCall::body() const
{
    const QByteArray answer = finalAnswer();
    const int headEnd = answer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return {};
    QByteArray rest = answer.mid(headEnd + 4);
    if (header("Transfer-Encoding").toLower() != "chunked")
        return rest;
    QByteArray joined;
    for (;;) {
        const int sizeEnd = rest.indexOf("\r\n");
        bool ok = false;
        const int size = rest.left(sizeEnd).toInt(&ok, 16);
        if (sizeEnd < 0 || !ok || size == 0)
            return joined;
        joined += rest.mid(sizeEnd + 2, size);
        rest = rest.mid(sizeEnd + 2 + size + 2);
    }
}
