#pragma once

#include "net/DataPacket.h"
#include "session/SessionWindow.h"
#include "net/SocketEventSink.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <netinet/in.h>
#include <optional>

class TSession;
class TSocketLayer;

enum TConnectionState : std::int32_t { csNone = 0, csConnected = 1, csListening = 2, csConnecting = 3 };

// The one TCP connection to the other instance: connect, listen, accept, close, the socket
// events and the packets that travel on it.
class TConnectionManager : public TSocketEventSink
{
public:
    TConnectionManager(TSession& session, TSocketLayer& sockets);
    TConnectionManager(const TConnectionManager&) = delete;
    TConnectionManager& operator=(const TConnectionManager&) = delete;

    TConnectionState ConnectionState = csNone;
    TSocket Sock = 0;
    sockaddr_in SockAddr{};
    QString PeerAddress;
    QString PortText;
    QString ListenStatusText;
    // Listen for connections from this machine only: the window's own computer opponent.
    bool LoopbackOnly = false;

    void ConnectToPeer();
    void StartListening();
    void AcceptPeer();
    void ConnectCompleted();
    void ConnectFailed(int error);
    void PeerClosed();
    void CloseConnection();
    void Disconnect1Click();
    void StopListening1Click();

    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override;
    void ReceivePackets(TSocket socket);
    void SendPacket(TSocket socket, const TDataPacket& packet);
    void DispatchPacket(const TDataPacket& packet);
    void SendName();

    // The bound port while listening (tests listen on "0" for a free one), else 0.
    std::uint16_t LocalPort() const;

    // The dotted form of an address or of a host name's first address; else the text itself.
    static QString ResolveAddress(const QString& text);
    // A TCP service name, else a decimal 32-bit integer cut to its low 16 bits; else nullopt.
    static std::optional<std::uint16_t> PortFromText(const QString& text);
    // The four connection menu items of a state (the texts are left empty).
    static TStatusTexts ConnectionMenu(TConnectionState state);

private:
    static std::optional<std::uint32_t> LookUpAddress(const QString& text);
    void Abandon(TSocket s, QStringView label);
    void ReportPortText();
    QString ListenStatus() const;
    void BeginConnection(TSocket s);

    TSession& Session;
    TSocketLayer& Sockets;
    TPacketDecoder Decoder;
};
