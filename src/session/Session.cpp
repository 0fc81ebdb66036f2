#include "session/Session.h"

#include "net/SocketErrors.h"
#include "net/SocketLayer.h"

#include <QStringList>

#include <sys/socket.h>

namespace {

constexpr QStringView kTitle = u"Tessaro";
constexpr QStringView kSocketErrorCaption = u"Winsock Error";
constexpr QStringView kChatLine = u"%1: %2";

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

constexpr QStringView kNotConnected = u"Status: pas connecté";
constexpr QStringView kConnectedTo = u"Status: Connecté à %1 sûr Port %2 - %3";
constexpr QStringView kWaiting = u"Status: Attente de connection";
constexpr QStringView kScore = u"%1 %2 - %3 %4";

constexpr QStringView kNoGame = u"Il n'y a pas de jeu";
constexpr QStringView kGameOver = u"Le jeu est fini";
constexpr QStringView kYourTurn = u"Votre tour";
constexpr QStringView kTheirTurn = u"%1's tour";

}  // namespace

TSession::TSession(TSessionWindow& window, TSessionOptions options)
    : Window(window)
    , Options(std::move(options))
    , Sockets(std::make_unique<TSocketLayer>())
    , Match(*this)
    , Connection(*this, *Sockets, Options.Connection)
{
}

TSession::~TSession() = default;

// Both commands start alike: only without a connection, and not without a port.
bool TSession::TakeTypedPort(const QString& port)
{
    if (Connection.State() != csNone)
        return false;
    TypedPort = port;
    if (TypedPort.isEmpty()) {
        ShowError(kNoPort.toString());
        return false;
    }
    return true;
}

void TSession::Connect(const QString& address, const QString& port)
{
    if (!TakeTypedPort(port))
        return;
    if (address.isEmpty()) {
        ShowError(kNoAddress.toString());
        return;
    }
    if (const std::optional<std::uint16_t> number = PortFromText(TypedPort))
        Connection.Connect(address, *number);
    else
        ReportPortText();
}

void TSession::Listen(const QString& port)
{
    if (!TakeTypedPort(port))
        return;
    const std::optional<std::uint16_t> number = PortFromText(TypedPort);
    if (!number) {
        ReportPortText();
        return;
    }
    const TListenResult result = Connection.Listen(*number);
    if (result == lrPortInUse)
        ShowMessage(kPortInUse.toString());
    if (result != lrListening)
        return;
    AcceptFailureShown = false;
    LookUpListenStatus();
    UpdateStatus();
    InsertChatLine(AddressNotice(Options.ListInterfaces(), Connection.ListensOnIPv6()));
    if (!Options.Connection.LoopbackOnly)
        Window.ListeningChanged(Connection.LocalPort());
}

void TSession::Disconnect()
{
    TDataPacket bye;
    bye.Kind = pkBye;
    Connection.SendPacket(bye);
    Connection.CloseConnection();
}

void TSession::StopListening()
{
    if (Connection.State() == csListening)
        Connection.CloseConnection();
}

void TSession::CloseConnection()
{
    Connection.CloseConnection();
}

void TSession::New1Click()
{
    Match.New1Click();
}

void TSession::PlayLocalMove(int column, int row)
{
    Match.PlayLocalMove(column, row);
}

void TSession::EnterChatText(const QString& typed)
{
    const QString line = kChatLine.arg(Match.LocalName, typed);
    InsertChatLine(line);
    SendChatLine(line);
}

void TSession::SendChatLine(const QString& line)
{
    if (!IsConnected())
        return;
    TDataPacket chat;
    chat.Kind = pkChat;
    chat.Text = line;
    Connection.SendPacket(chat);
}

void TSession::InsertChatLine(const QString& line)
{
    Window.InsertChatLine(line);
}

void TSession::UpdateStatus()
{
    // Scores live as long as one connection.
    if (!IsConnected()) {
        Match.LocalScore = 0;
        Match.RemoteScore = 0;
    }
    Window.ShowStatus(StatusTexts());
}

TStatusTexts TSession::StatusTexts() const
{
    TStatusTexts status = ConnectionMenu(Connection.State());
    switch (Connection.State()) {
    case csNone:
        status.Panel0 = kNotConnected.toString();
        break;
    case csConnected:
        status.Panel0 = kConnectedTo.arg(Connection.PeerAddress(), TypedPort, GameText());
        status.Panel1 = kScore.arg(Match.LocalName, QString::number(Match.LocalScore), Match.RemoteName,
                                   QString::number(Match.RemoteScore));
        break;
    case csListening:
        status.Panel0 = ListenStatusText;
        break;
    case csConnecting:
        status.Panel0 = kWaiting.toString();
        break;
    }
    return status;
}

QString TSession::GameText() const
{
    switch (Match.GameState) {
    case gsOver:
        return kGameOver.toString();
    case gsLocalTurn:
        return kYourTurn.toString();
    case gsRemoteTurn:
        return kTheirTurn.arg(Match.RemoteName);
    case gsNone:
    default:
        return kNoGame.toString();
    }
}

void TSession::ShowError(const QString& message)
{
    Window.MessageBox(message, ApplicationTitle(), MB_ICONERROR);
}

void TSession::ReportSocketError(QStringView label, int error)
{
    Window.MessageBox(FormatSocketError(error, label.toString()), kSocketErrorCaption.toString(), MB_OK);
}

QString TSession::ApplicationTitle()
{
    return kTitle.toString();
}

void TSession::RepaintBoard()
{
    Window.RepaintBoard();
}

void TSession::DrawWinLine(int col1, int row1, int col2, int row2)
{
    Window.DrawWinLine(col1, row1, col2, row2);
}

void TSession::ShowMessage(const QString& text)
{
    Window.MessageBox(text, ApplicationTitle(), MB_OK);
}

bool TSession::AskYesNo(const QString& text)
{
    return Window.MessageBox(text, ApplicationTitle(), MB_YESNO | MB_ICONSTOP) == IDYES;
}

bool TSession::AskPlayAgain(const QString& message)
{
    return Window.ShowPlayAgain(message) == IDOK;
}

bool TSession::IsConnected() const
{
    return Connection.State() == csConnected;
}

void TSession::SendMove(int column)
{
    TDataPacket move;
    move.Kind = pkMove;
    move.Column = column;
    Connection.SendPacket(move);
}

void TSession::SendNewGame()
{
    TDataPacket newGame;
    newGame.Kind = pkNewGame;
    Connection.SendPacket(newGame);
}

void TSession::DispatchPacket(const TDataPacket& packet)
{
    switch (packet.Kind) {
    case pkMove:
        // A column off the board must not touch the board or the turn.
        if (packet.Column >= 1 && packet.Column <= kColumns)
            Match.ApplyRemoteMove(packet.Column);
        break;
    case pkBye:
        InsertChatLine(kPeerLeft.arg(Match.RemoteName));
        Window.PeerSaidGoodbye();
        break;
    case pkNewGame:
        Match.ApplyRemoteNewGame();
        break;
    case pkChat:
        InsertChatLine(packet.Text);
        break;
    case pkName:
        Match.RemoteName = packet.Text;
        InsertChatLine(kPeerNamed.arg(Match.RemoteName));
        // The score panel names the opponent: without this it would show the previous one.
        UpdateStatus();
        break;
    default:
        break;
    }
}

void TSession::ConnectStarted()
{
    UpdateStatus();
}

void TSession::ConnectCompleted()
{
    SendName();
    UpdateStatus();
    Match.StartNewGame();
}

void TSession::PeerAccepted()
{
    EndListening();
    SendName();
    UpdateStatus();
}

void TSession::Closed(bool wasListening)
{
    TypedPort.clear();
    Match.GameState = gsNone;
    UpdateStatus();
    if (wasListening)
        EndListening();
}

void TSession::SocketFailed(QStringView label, int error)
{
    ReportSocketError(label, error);
}

void TSession::NameNotFound()
{
    ShowError(kCannotResolve.toString());
}

void TSession::AcceptFailed()
{
    // Shown once while listening: the socket layer tries again now and then, also while the
    // box is open.
    if (!AcceptFailureShown) {
        AcceptFailureShown = true;
        ShowError(kCannotAccept.toString());
    }
}

void TSession::SendName()
{
    TDataPacket name;
    name.Kind = pkName;
    name.Text = Match.LocalName;
    Connection.SendPacket(name);
}

void TSession::EndListening()
{
    ListenLookup.reset();
    if (!Options.Connection.LoopbackOnly)
        Window.ListeningChanged(0);
}

QString TSession::ListenAddress(const QString& hostAddress, const TInterfaceList& interfaces)
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

QString TSession::AddressNotice(const TInterfaceList& interfaces, bool withIPv6)
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

std::optional<std::uint16_t> TSession::PortFromText(const QString& text)
{
    if (const std::optional<std::uint16_t> service = TResolver::GetServByName(text))
        return service;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

TStatusTexts TSession::ConnectionMenu(TConnectionState state)
{
    TStatusTexts menu;
    menu.ConnectEnabled = state == csNone;
    menu.DisconnectEnabled = state == csConnected || state == csConnecting;
    menu.ListenEnabled = state == csNone;
    menu.StopListeningEnabled = state == csListening;
    return menu;
}

void TSession::ReportPortText()
{
    ShowError(kNotAnInteger.arg(TypedPort));
}

// The host entry is looked up on a thread of its own: a name the resolver has to ask the
// network about would freeze the window. Until it answers, the status names the host as this
// machine calls itself, with an interface's address; without an answer, that stays.
void TSession::LookUpListenStatus()
{
    const std::optional<QString> hostName = TResolver::GetHostName();
    ListenStatusText = hostName ? ListenStatus(*hostName, {}) : QString();
    if (!hostName)
        return;
    ListenLookup = std::make_unique<THostLookup>(Options.LookUpHostEntry, *hostName,
                                                 [this](const std::optional<THostEntry>& host) {
        ListenLookup.reset();
        if (!host)
            return;
        const QString dotted = host->Addresses.isEmpty() ? QString() : TResolver::InetNtoa(host->Addresses.first());
        ListenStatusText = ListenStatus(host->Name, dotted);
        UpdateStatus();
    });
}

QString TSession::ListenStatus(const QString& hostName, const QString& dotted) const
{
    return kListenStatus.arg(hostName, ListenAddress(dotted, Options.ListInterfaces()), TypedPort);
}
