#pragma once

#include <QTcpServer>

// A further listening socket of the WebServer (one per address beyond its own): it hands every accepted
// descriptor on, untouched, to be served like the WebServer's own.
class AddressListener : public QTcpServer
{
    Q_OBJECT

public:
    explicit AddressListener(QObject *parent = nullptr);

signals:
    void accepted(qintptr socketDescriptor);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};
