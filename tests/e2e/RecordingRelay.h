#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// Sits between the two programs and keeps every byte that crosses, in each direction.
class TRecordingRelay : public QObject
{
public:
    explicit TRecordingRelay(quint16 targetPort);

    quint16 Port() const { return Server.serverPort(); }

    QByteArray FromConnector;  // what the connecting program sent
    QByteArray FromListener;   // what the listening program sent
    bool ConnectorClosed = false;

private:
    QTcpServer Server;
    QPointer<QTcpSocket> Connector;
    QPointer<QTcpSocket> Listener;
};
