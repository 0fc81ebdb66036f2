#include "session/ConnectionManager.h"

#include "net/Resolver.h"
#include "session/Session.h"
#include "net/SocketErrors.h"
#include "net/SocketLayer.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr QStringView kNoPort = u"Le port n'est pas specifié";
constexpr QStringView kNoAddress = u"L'adresse n'est pas specifiée";
constexpr QStringView kCannotResolve = u"Incapable de resoudre le hote";
constexpr QStringView kCannotAccept = u"Unable to accept connection";
constexpr QStringView kPortInUse = u"Ce port est déja utilisé. Essayez d'ecouter sur un autre port";
constexpr QStringView kNotAnInteger = u"'%1' is not a valid integer value.";
constexpr QStringView kListenStatus = u"Status:Ecoute pour connection: %1 (%2) sur Port %3";
constexpr QStringView kPeerLeft = u":: %1 a deconnecté";
constexpr QStringView kPeerNamed = u":: Vous avez connecté à %1";
constexpr QStringView kAddresses = u":: Adresses: %1";
constexpr QStringView kNoAddresses = u"aucune";

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

TConnectionManager::TConnectionManager(TSession& session, TSocketLayer& sockets)
    : Session(session)
    , Sockets(sockets)
{
}

TConnectionManager::~TConnectionManager() = default;

void TConnectionManager::ConnectToPeer()
{
    if (PortText.isEmpty()) {
        Session.ShowError(kNoPort.toString());
        return;
    }
    if (PeerAddress.isEmpty()) {
        Session.ShowError(kNoAddress.toString());
        return;
    }
    const std::optional<TSocketAddress> written = TResolver::AddressLiteral(PeerAddress);
    if (written)
        PeerAddress = written->Text();
    const std::optional<std::uint16_t> port = PortFromText(PortText);
    if (!port) {
        ReportPortText();
        return;
    }
    PeerPort = *port;
    if (written) {
        ConnectTo({*written});
        return;
    }
    // A name is resolved off the window's thread; Disconnect or the end of the program
    // meanwhile drops the answer.
    ConnectionState = csConnecting;
    Session.UpdateStatus();
    Lookup = std::make_unique<THostLookup>(LookUpHost, PeerAddress,
                                           [this](const QList<TSocketAddress>& addresses, int) {
                                               NameResolved(addresses);
                                           });
}

void TConnectionManager::NameResolved(const QList<TSocketAddress>& addresses)
{
    Lookup.reset();
    if (addresses.isEmpty()) {
        CloseConnection();
        Session.ShowError(kCannotResolve.toString());
        return;
    }
    ConnectTo(addresses);
}

void TConnectionManager::ConnectTo(const QList<TSocketAddress>& addresses)
{
    Attempts = std::make_unique<TConnectAttempts>(
        Sockets, [this](TSocket s, const TSocketAddress& address) { AttemptWon(s, address); },
        [this](TConnectAttempts::TStep step, int error) { ConnectFailed(step, error); });
    if (Attempts->Start(addresses, PeerPort, TcpProtocol(), ConnectTimeoutMilliseconds)) {
        ConnectionState = csConnecting;
        Session.UpdateStatus();
        return;
    }
    ConnectFailed(Attempts->LastStep(), Attempts->LastError());
}

void TConnectionManager::AttemptWon(TSocket s, const TSocketAddress& address)
{
    Attempts.reset();
    BeginConnection(s);
    Sockets.AsyncSelect(s, this, kConnectEvents);
    SockAddr = address;
    PeerAddress = address.Text();
    ConnectCompleted();
}

void TConnectionManager::GiveUpConnecting(QStringView label)
{
    // An attempt made straight from the dialog never left csNone and leaves nothing to close.
    const int error = Sockets.WSAGetLastError();
    if (ConnectionState != csNone)
        CloseConnection();
    Sockets.WSASetLastError(error);
    Session.ReportSocketError(label.toString());
}

void TConnectionManager::StartListening()
{
    if (PortText.isEmpty()) {
        Session.ShowError(kNoPort.toString());
        return;
    }
    const std::optional<std::uint16_t> port = PortFromText(PortText);
    if (!port) {
        ReportPortText();
        return;
    }
    const TSocket s = OpenListener(*port);
    if (s == INVALID_SOCKET) {
        Session.ReportSocketError(kListenSocket.toString());
        return;
    }
    // A connection of ours that just ended on this port (waiting out TIME_WAIT) must not keep
    // us from listening on it again. A port another program listens on is still refused.
    Sockets.setsockopt(s, SOL_SOCKET, SO_REUSEADDR, 1);
    if (Sockets.bind(s, SockAddr) != 0) {
        if (Sockets.WSAGetLastError() == WSAEADDRINUSE) {
            Sockets.closesocket(s);
            Session.ShowMessage(kPortInUse.toString());
        } else {
            Abandon(s, kListenBind);
        }
        return;
    }
    if (Sockets.listen(s, kBacklog) != 0) {
        Abandon(s, kListenListen);
        return;
    }
    if (Sockets.AsyncSelect(s, this, kListenEvents) != 0) {
        Abandon(s, kListenSelect);
        return;
    }
    BeginConnection(s);
    AcceptFailureShown = false;
    LookUpListenStatus();
    ConnectionState = csListening;
    Session.UpdateStatus();
    Session.InsertChatLine(AddressNotice(ListInterfaces(), SockAddr.Family() == AF_INET6));
    if (!LoopbackOnly)
        Session.SessionWindow().ListeningChanged(LocalPort());
}

// One IPv6 socket that also takes IPv4 peers; an IPv4 one where IPv6 is not to be had, or
// where only this machine may connect.
// SockAddr's family tells which it is.
TSocket TConnectionManager::OpenListener(std::uint16_t port)
{
    if (LoopbackOnly) {
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

void TConnectionManager::AcceptPeer()
{
    TSocketAddress peer;
    const TSocket accepted = Sockets.accept(Sock, &peer);
    if (accepted == INVALID_SOCKET) {
        // A connection that went away before we took it is no failure of ours. A real failure
        // is shown once while listening: the socket layer tries again now and then, also while
        // the box is open, and takes the peer once the cause has gone.
        if (Sockets.WSAGetLastError() != WSAEWOULDBLOCK && !AcceptFailureShown) {
            AcceptFailureShown = true;
            Session.ShowError(kCannotAccept.toString());
        }
        return;
    }
    // The new connection is ours before any box can open, so its events find it.
    const TSocket listener = Sock;
    Sock = accepted;
    SockAddr = peer;
    PeerAddress = peer.Text();
    Sockets.AsyncSelect(listener, this, 0);
    if (listener != 0 && Sockets.closesocket(listener) != 0)
        Session.ReportSocketError(kCloseSocket.toString());
    EndListening();
    SendName();
    ConnectionState = csConnected;
    Session.UpdateStatus();
}

void TConnectionManager::ConnectCompleted()
{
    SendName();
    ConnectionState = csConnected;
    Session.UpdateStatus();
    Session.Match.StartNewGame();
}

void TConnectionManager::ConnectFailed(TConnectAttempts::TStep step, int error)
{
    // The attempt is over: nothing of it stays open, no name is sent and no game starts.
    Attempts.reset();
    Sockets.WSASetLastError(error);
    const QStringView labels[] = {kConnectSocket, kConnectSelect, kConnectConnect};
    GiveUpConnecting(labels[step]);
}

void TConnectionManager::PeerClosed()
{
    CloseConnection();
}

void TConnectionManager::CloseConnection()
{
    const TSocket closing = Sock;
    const bool wasListening = ConnectionState == csListening;
    Lookup.reset();
    Attempts.reset();
    Sockets.AsyncSelect(closing, this, 0);
    PeerAddress.clear();
    PortText.clear();
    Sock = 0;
    ConnectionState = csNone;
    Session.Match.GameState = gsNone;
    Session.UpdateStatus();
    if (wasListening)
        EndListening();
    // Reported after the state is settled: the box's nested loop may deliver more events.
    if (closing != 0 && Sockets.closesocket(closing) != 0)
        Session.ReportSocketError(kCloseSocket.toString());
}

void TConnectionManager::EndListening()
{
    Lookup.reset();
    if (!LoopbackOnly)
        Session.SessionWindow().ListeningChanged(0);
}

void TConnectionManager::Disconnect1Click()
{
    TDataPacket bye;
    bye.Kind = pkBye;
    SendPacket(Sock, bye);
    CloseConnection();
}

void TConnectionManager::StopListening1Click()
{
    CloseConnection();
}

void TConnectionManager::WMSocketEvent(TSocket socket, std::uint32_t lParam)
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

void TConnectionManager::ReceivePackets(TSocket socket)
{
    // A dispatch may open a box whose nested loop runs this again; the decoder hands out
    // each packet once, in stream order, to whichever call asks next.
    qsizetype taken = 0;
    for (int dispatched = 0; dispatched < kPacketsPerEvent;) {
        if (std::optional<TDataPacket> packet = Decoder.Next()) {
            packet->Socket = socket;
            DispatchPacket(*packet);
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

void TConnectionManager::SendPacket(TSocket socket, const TDataPacket& packet)
{
    // Failures are not reported: a packet sent without a connection goes nowhere.
    Sockets.send(socket, EncodePacket(packet));
}

void TConnectionManager::DispatchPacket(const TDataPacket& packet)
{
    TMatchFlow& match = Session.Match;
    switch (packet.Kind) {
    case pkMove:
        // A column off the board must not touch the board or the turn.
        if (packet.Column >= 1 && packet.Column <= kColumns)
            match.ApplyRemoteMove(packet.Column);
        break;
    case pkBye:
        Session.InsertChatLine(kPeerLeft.arg(match.RemoteName));
        Session.SessionWindow().PeerSaidGoodbye();
        break;
    case pkNewGame:
        match.ApplyRemoteNewGame();
        break;
    case pkChat:
        Session.InsertChatLine(packet.Text);
        break;
    case pkName:
        match.RemoteName = packet.Text;
        Session.InsertChatLine(kPeerNamed.arg(match.RemoteName));
        // The score panel names the opponent: without this it would show the previous one.
        Session.UpdateStatus();
        break;
    default:
        break;
    }
}

void TConnectionManager::SendName()
{
    TDataPacket name;
    name.Kind = pkName;
    name.Text = Session.Match.LocalName;
    SendPacket(Sock, name);
}

std::uint16_t TConnectionManager::LocalPort() const
{
    return ConnectionState == csListening ? Sockets.LocalPort(Sock) : 0;
}

QString TConnectionManager::ListenAddress(const QString& hostAddress, const TInterfaceList& interfaces)
{
    const std::optional<TSocketAddress> host = TResolver::AddressLiteral(hostAddress);
    if (host && !host->IsLoopback())
        return hostAddress;
    for (const TInterfaceAddress& interface : interfaces) {
        if (interface.Up && !interface.Loopback && interface.Address.Family() == AF_INET)
            return interface.Address.Text();
    }
    return hostAddress;
}

QString TConnectionManager::AddressNotice(const TInterfaceList& interfaces, bool withIPv6)
{
    QStringList v4;
    QStringList v6;
    for (const TInterfaceAddress& interface : interfaces) {
        const TSocketAddress& address = interface.Address;
        if (!interface.Up || interface.Loopback || address.IsLoopback() || address.IsLinkLocal())
            continue;
        QStringList& list = address.Family() == AF_INET ? v4 : v6;
        if ((address.Family() == AF_INET || withIPv6) && !list.contains(address.Text()))
            list.append(address.Text());
    }
    const QStringList all = v4 + v6;
    return kAddresses.arg(all.isEmpty() ? kNoAddresses.toString() : all.join(u", "));
}

std::optional<std::uint16_t> TConnectionManager::PortFromText(const QString& text)
{
    if (const std::optional<std::uint16_t> service = TResolver::GetServByName(text))
        return service;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

TStatusTexts TConnectionManager::ConnectionMenu(TConnectionState state)
{
    TStatusTexts menu;
    menu.ConnectEnabled = state == csNone;
    menu.DisconnectEnabled = state == csConnected || state == csConnecting;
    menu.ListenEnabled = state == csNone;
    menu.StopListeningEnabled = state == csListening;
    return menu;
}

void TConnectionManager::CloseKeepingError(TSocket s)
{
    // An attempt that stops leaves nothing open; the report still shows the call's own error.
    const int error = Sockets.WSAGetLastError();
    Sockets.closesocket(s);
    Sockets.WSASetLastError(error);
}

void TConnectionManager::Abandon(TSocket s, QStringView label)
{
    CloseKeepingError(s);
    Session.ReportSocketError(label.toString());
}

void TConnectionManager::ReportPortText()
{
    Session.ShowError(kNotAnInteger.arg(PortText));
}

// The host entry is looked up on a thread of its own: a name the resolver has to ask the
// network about would freeze the window. Until it answers, the status names the host as this
// machine calls itself, with an interface's address; without an answer, that stays.
void TConnectionManager::LookUpListenStatus()
{
    const std::optional<QString> hostName = TResolver::GetHostName();
    ListenStatusText = hostName ? ListenStatus(*hostName, {}) : QString();
    if (!hostName)
        return;
    Lookup = std::make_unique<THostLookup>(LookUpHostEntry, *hostName, [this](const std::optional<THostEntry>& host) {
        Lookup.reset();
        if (!host)
            return;
        const QString dotted = host->Addresses.isEmpty() ? QString() : TResolver::InetNtoa(host->Addresses.first());
        ListenStatusText = ListenStatus(host->Name, dotted);
        Session.UpdateStatus();
    });
}

QString TConnectionManager::ListenStatus(const QString& hostName, const QString& dotted) const
{
    return kListenStatus.arg(hostName, ListenAddress(dotted, ListInterfaces()), PortText);
}

void TConnectionManager::BeginConnection(TSocket s)
{
    Sock = s;
    // Bytes left over from an earlier connection must not join this one's stream.
    Decoder.Clear();
}
