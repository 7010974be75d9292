// The HTTP peer on its own: http_peer_server PORT. Prints "listening PORT" once it listens.
#include "HttpPeerServer.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    HttpPeerServer server;
    const quint16 port = argc > 1 ? quint16(QByteArray(argv[1]).toUInt()) : 0;
    if (!server.listen(QHostAddress::LocalHost, port))
        return 1;
    std::printf("listening %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
