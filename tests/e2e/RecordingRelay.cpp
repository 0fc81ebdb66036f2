#include "e2e/RecordingRelay.h"

#include <QHostAddress>

TRecordingRelay::TRecordingRelay(quint16 targetPort, QObject* parent)
    : QObject(parent)
    , TargetPort(targetPort)
{
    connect(&Server, &QTcpServer::newConnection, this, &TRecordingRelay::Accept);
    Server.listen(QHostAddress::LocalHostIPv6, 0);
}

void TRecordingRelay::Accept()
{
    QTcpSocket* incoming = Server.nextPendingConnection();
    if (Connector) {
        incoming->abort();
        incoming->deleteLater();
        return;
    }
    Connector = incoming;
    Listener = new QTcpSocket(this);
    Listener->connectToHost(QHostAddress::LocalHostIPv6, TargetPort);

    connect(Connector, &QTcpSocket::readyRead, this, [this] {
        const QByteArray bytes = Connector->readAll();
        FromConnector += bytes;
        Listener->write(bytes);
    });
    connect(Listener, &QTcpSocket::readyRead, this, [this] {
        const QByteArray bytes = Listener->readAll();
        FromListener += bytes;
        Connector->write(bytes);
    });
    connect(Connector, &QTcpSocket::disconnected, this, [this] {
        ConnectorClosed = true;
        Listener->disconnectFromHost();
    });
    connect(Listener, &QTcpSocket::disconnected, this, [this] {
        ListenerClosed = true;
        Connector->disconnectFromHost();
    });
}
