#include "net/Connection.h"

#include "net/Resolver.h"
#include "net/SocketErrors.h"
#include "net/SocketLayer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr QStringView kConnectSocket = u"Connect(Socket)";
constexpr QStringView kConnectSelect = u"Connect(WSAASyncSelect)";
constexpr QStringView kConnectConnect = u"Connect(Connect)";
constexpr QStringView kListenSocket = u"Listen(Socket)";
constexpr QStringView kListenBind = u"Listen(Bind)";
constexpr QStringView kListenListen = u"Listen(Listen)";
constexpr QStringView kListenSelect = u"Liten(WSAASyncSelect)";
constexpr QStringView kCloseSocket = u"Disconnect (closesocket)";

constexpr std::uint32_t kConnectEvents = FD_READ | FD_CLOSE;  // TConnectAttempts takes FD_CONNECT
constexpr std::uint32_t kListenEvents = FD_READ | FD_ACCEPT | FD_CLOSE;
constexpr int kBacklog = 5;

// The work of one FD_READ, so that a flood cannot hold the thread: at most this many packets
// dispatched and this many bytes taken. The rest waits for the next FD_READ, behind whatever
// other events came in meanwhile.
constexpr int kPacketsPerEvent = 16;
constexpr qsizetype kBytesPerEvent = 256 * 1024;
constexpr qsizetype kReadSlice = 64 * 1024;

int TcpProtocol()
{
    return TResolver::GetProtoByName(QStringLiteral("tcp")).value_or(IPPROTO_TCP);
}

}  // namespace

TConnection::TConnection(TConnectionEvents& events, TSocketLayer& sockets, TConnectionOptions options)
    : Events(events)
    , Sockets(sockets)
    , Options(std::move(options))
{
}

TConnection::~TConnection() = default;

void TConnection::Connect(const QString& address, std::uint16_t port)
{
    const std::optional<TSocketAddress> written = TResolver::AddressLiteral(address);
    Peer = written ? written->Text() : address;
    PeerPort = port;
    if (written) {
        ConnectTo({*written});
        return;
    }
    // CloseConnection or the end of the program meanwhile drops the answer.
    ConnectionState = csConnecting;
    Events.ConnectStarted();
    Lookup = std::make_unique<THostLookup>(Options.LookUpHost, Peer,
                                           [this](const QList<TSocketAddress>& addresses, int) {
                                               NameResolved(addresses);
                                           });
}

void TConnection::NameResolved(const QList<TSocketAddress>& addresses)
{
    Lookup.reset();
    if (addresses.isEmpty()) {
        CloseConnection();
        Events.NameNotFound();
        return;
    }
    ConnectTo(addresses);
}

void TConnection::ConnectTo(const QList<TSocketAddress>& addresses)
{
    Attempts = std::make_unique<TConnectAttempts>(
        Sockets, [this](TSocket s, const TSocketAddress& address) { AttemptWon(s, address); },
        [this](TConnectAttempts::TStep step, int error) { ConnectFailed(step, error); });
    if (Attempts->Start(addresses, PeerPort, TcpProtocol(), Options.ConnectTimeoutMilliseconds)) {
        ConnectionState = csConnecting;
        Events.ConnectStarted();
        return;
    }
    ConnectFailed(Attempts->LastStep(), Attempts->LastError());
}

void TConnection::AttemptWon(TSocket s, const TSocketAddress& address)
{
    Attempts.reset();
    BeginConnection(s);
    Sockets.AsyncSelect(s, this, kConnectEvents);
    SockAddr = address;
    Peer = address.Text();
    ConnectionState = csConnected;
    Events.ConnectCompleted();
}

void TConnection::ConnectFailed(TConnectAttempts::TStep step, int error)
{
    // The attempt is over: nothing of it stays open. One made straight from the dialog never
    // left csNone and leaves nothing to close.
    Attempts.reset();
    if (ConnectionState != csNone)
        CloseConnection();
    const QStringView labels[] = {kConnectSocket, kConnectSelect, kConnectConnect};
    Events.SocketFailed(labels[step], error);
}

TListenResult TConnection::Listen(std::uint16_t port)
{
    const TSocket s = OpenListener(port);
    if (s == INVALID_SOCKET) {
        Events.SocketFailed(kListenSocket, Sockets.WSAGetLastError());
        return lrFailed;
    }
    // A connection of ours that just ended on this port (waiting out TIME_WAIT) must not keep
    // us from listening on it again. A port another program listens on is still refused.
    Sockets.setsockopt(s, SOL_SOCKET, SO_REUSEADDR, 1);
    if (Sockets.bind(s, SockAddr) != 0) {
        if (Sockets.WSAGetLastError() == WSAEADDRINUSE) {
            Sockets.closesocket(s);
            return lrPortInUse;
        }
        Abandon(s, kListenBind);
        return lrFailed;
    }
    if (Sockets.listen(s, kBacklog) != 0) {
        Abandon(s, kListenListen);
        return lrFailed;
    }
    if (Sockets.AsyncSelect(s, this, kListenEvents) != 0) {
        Abandon(s, kListenSelect);
        return lrFailed;
    }
    BeginConnection(s);
    ConnectionState = csListening;
    return lrListening;
}

// One IPv6 socket that also takes IPv4 peers; an IPv4 one where IPv6 is not to be had, or
// where only this machine may connect.
// SockAddr's family tells which it is.
TSocket TConnection::OpenListener(std::uint16_t port)
{
    if (Options.LoopbackOnly) {
        sockaddr_in loopback{};
        loopback.sin_family = AF_INET;
        loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        loopback.sin_port = htons(port);
        SockAddr = loopback;
        return Sockets.socket(AF_INET, SOCK_STREAM, TcpProtocol());
    }
    const TSocket v6 = Sockets.socket(AF_INET6, SOCK_STREAM, TcpProtocol());
    if (v6 != INVALID_SOCKET && Sockets.setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, 0) == 0) {
        SockAddr = TSocketAddress::Any(AF_INET6, port);
        return v6;
    }
    if (v6 != INVALID_SOCKET)
        Sockets.closesocket(v6);
    SockAddr = TSocketAddress::Any(AF_INET, port);
    return Sockets.socket(AF_INET, SOCK_STREAM, TcpProtocol());
}

void TConnection::AcceptPeer()
{
    TSocketAddress peer;
    const TSocket accepted = Sockets.accept(Sock, &peer);
    if (accepted == INVALID_SOCKET) {
        // A connection that went away before we took it is no failure of ours. The socket
        // layer tries a real failure again now and then, and takes the peer once the cause
        // has gone.
        if (Sockets.WSAGetLastError() != WSAEWOULDBLOCK)
            Events.AcceptFailed();
        return;
    }
    // The new connection is ours before any box can open, so its events find it.
    const TSocket listener = Sock;
    Sock = accepted;
    SockAddr = peer;
    Peer = peer.Text();
    Sockets.AsyncSelect(listener, this, 0);
    if (listener != 0 && Sockets.closesocket(listener) != 0)
        Events.SocketFailed(kCloseSocket, Sockets.WSAGetLastError());
    ConnectionState = csConnected;
    Events.PeerAccepted();
}

void TConnection::PeerClosed()
{
    CloseConnection();
}

void TConnection::CloseConnection()
{
    const TSocket closing = Sock;
    const bool wasListening = ConnectionState == csListening;
    Lookup.reset();
    Attempts.reset();
    Sockets.AsyncSelect(closing, this, 0);
    Peer.clear();
    Sock = 0;
    ConnectionState = csNone;
    Events.Closed(wasListening);
    // Reported after the state is settled: the box's nested loop may deliver more events.
    if (closing != 0 && Sockets.closesocket(closing) != 0)
        Events.SocketFailed(kCloseSocket, Sockets.WSAGetLastError());
}

void TConnection::WMSocketEvent(TSocket socket, std::uint32_t lParam)
{
    switch (WSAGetSelectEvent(lParam)) {
    case FD_READ:
        ReceivePackets(socket);
        break;
    case FD_ACCEPT:
        AcceptPeer();
        break;
    case FD_CLOSE:
        PeerClosed();
        break;
    default:
        break;
    }
}

void TConnection::ReceivePackets(TSocket socket)
{
    // A dispatch may open a box whose nested loop runs this again; the decoder hands out
    // each packet once, in stream order, to whichever call asks next.
    qsizetype taken = 0;
    for (int dispatched = 0; dispatched < kPacketsPerEvent;) {
        if (std::optional<TDataPacket> packet = Decoder.Next()) {
            packet->Socket = socket;
            Events.DispatchPacket(*packet);
            ++dispatched;
            continue;
        }
        if (taken >= kBytesPerEvent)
            break;
        const QByteArray bytes = Sockets.recv(socket, kReadSlice);
        if (bytes.isEmpty())
            return;
        taken += bytes.size();
        Decoder.Append(bytes);
    }
    // Packets may still wait in the decoder, where the socket layer cannot see them.
    if (socket == Sock)
        Sockets.RequestRead(socket);
}

void TConnection::SendPacket(const TDataPacket& packet)
{
    // Failures are not reported: a packet sent without a connection goes nowhere.
    Sockets.send(Sock, EncodePacket(packet));
}

std::uint16_t TConnection::LocalPort() const
{
    return ConnectionState == csListening ? Sockets.LocalPort(Sock) : 0;
}

bool TConnection::ListensOnIPv6() const
{
    return SockAddr.Family() == AF_INET6;
}

void TConnection::Abandon(TSocket s, QStringView label)
{
    // An attempt that stops leaves nothing open; the report still shows the call's own error.
    const int error = Sockets.WSAGetLastError();
    Sockets.closesocket(s);
    Events.SocketFailed(label, error);
}

void TConnection::BeginConnection(TSocket s)
{
    Sock = s;
    // Bytes left over from an earlier connection must not join this one's stream.
    Decoder.Clear();
}
