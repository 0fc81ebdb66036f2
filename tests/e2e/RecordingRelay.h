#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// Sits between the two programs and keeps every byte that crosses, in each direction.
class TRecordingRelay : public QObject
{
    Q_OBJECT

public:
    explicit TRecordingRelay(quint16 targetPort, QObject* parent = nullptr);

    quint16 Port() const { return Server.serverPort(); }
    bool Connected() const { return Connector && Listener; }
    bool ClosedByConnector() const { return ConnectorClosed; }
    bool ClosedByListener() const { return ListenerClosed; }

    QByteArray FromConnector;  // what the connecting program sent
    QByteArray FromListener;   // what the listening program sent

private:
    void Accept();

    QTcpServer Server;
    quint16 TargetPort;
    QPointer<QTcpSocket> Connector;
    QPointer<QTcpSocket> Listener;
    bool ConnectorClosed = false;
    bool ListenerClosed = false;
};
