#include "e2e/RecordingRelay.h"

TRecordingRelay::TRecordingRelay(quint16 targetPort)
{
    Server.listen(QHostAddress::LocalHostIPv6, 0);
    connect(&Server, &QTcpServer::newConnection, this, [this, targetPort] {
        Connector = Server.nextPendingConnection();
        Server.close();  // one connection is relayed
        Listener = new QTcpSocket(this);
        Listener->connectToHost(QHostAddress::LocalHostIPv6, targetPort);
        const auto forward = [this](QTcpSocket* from, QTcpSocket* to, QByteArray* record) {
            connect(from, &QTcpSocket::readyRead, this, [=] {
                const QByteArray bytes = from->readAll();
                *record += bytes;
                to->write(bytes);
            });
            connect(from, &QTcpSocket::disconnected, to, &QTcpSocket::disconnectFromHost);
        };
        forward(Connector, Listener, &FromConnector);
        forward(Listener, Connector, &FromListener);
        connect(Connector, &QTcpSocket::disconnected, this, [this] { ConnectorClosed = true; });
    });
}
