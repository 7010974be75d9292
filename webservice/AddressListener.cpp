#include "webservice/AddressListener.h"

AddressListener::AddressListener(QObject *parent)
    : QTcpServer(parent)
{
}

void AddressListener::incomingConnection(qintptr socketDescriptor)
{
    emit accepted(socketDescriptor);
}
