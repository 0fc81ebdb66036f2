#include "session/Session.h"

#include "net/SocketErrors.h"
#include "net/SocketLayer.h"

namespace {

constexpr QStringView kTitle = u"Tessaro";
constexpr QStringView kSocketErrorCaption = u"Winsock Error";
constexpr QStringView kChatLine = u"%1: %2";

constexpr QStringView kNotConnected = u"Status: pas connecté";
constexpr QStringView kConnectedTo = u"Status: Connecté à %1 sûr Port %2 - %3";
constexpr QStringView kWaiting = u"Status: Attente de connection";
constexpr QStringView kScore = u"%1 %2 - %3 %4";

constexpr QStringView kNoGame = u"Il n'y a pas de jeu";
constexpr QStringView kGameOver = u"Le jeu est fini";
constexpr QStringView kYourTurn = u"Votre tour";
constexpr QStringView kTheirTurn = u"%1's tour";

}  // namespace

TSession::TSession(TSessionWindow& window)
    : Window(window)
    , Sockets(std::make_unique<TSocketLayer>())
    , Match(*this)
    , Connection(*this, *Sockets)
{
}

TSession::~TSession() = default;

void TSession::Connect1Click(const QString& address, const QString& port)
{
    if (Connection.ConnectionState != csNone)
        return;
    Connection.PeerAddress = address;
    Connection.PortText = port;
    Connection.ConnectToPeer();
}

void TSession::Listen1Click(const QString& port)
{
    if (Connection.ConnectionState != csNone)
        return;
    Connection.PortText = port;
    Connection.StartListening();
}

void TSession::Disconnect1Click()
{
    Connection.Disconnect1Click();
}

void TSession::StopListening1Click()
{
    if (Connection.ConnectionState == csListening)
        Connection.StopListening1Click();
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
    if (Connection.ConnectionState != csConnected)
        return;
    TDataPacket chat;
    chat.Kind = pkChat;
    chat.Text = line;
    Connection.SendPacket(Connection.Sock, chat);
}

void TSession::InsertChatLine(const QString& line)
{
    Window.InsertChatLine(line);
}

void TSession::UpdateStatus()
{
    // Scores live as long as one connection.
    if (Connection.ConnectionState != csConnected) {
        Match.LocalScore = 0;
        Match.RemoteScore = 0;
    }
    Window.ShowStatus(StatusTexts());
}

TStatusTexts TSession::StatusTexts() const
{
    TStatusTexts status = TConnectionManager::ConnectionMenu(Connection.ConnectionState);
    switch (Connection.ConnectionState) {
    case csNone:
        status.Panel0 = kNotConnected.toString();
        break;
    case csConnected:
        status.Panel0 = kConnectedTo.arg(Connection.PeerAddress, Connection.PortText, GameText());
        status.Panel1 = kScore.arg(Match.LocalName, QString::number(Match.LocalScore), Match.RemoteName,
                                   QString::number(Match.RemoteScore));
        break;
    case csListening:
        status.Panel0 = Connection.ListenStatusText;
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

void TSession::ReportSocketError(const QString& label)
{
    Window.MessageBox(FormatSocketError(Sockets->WSAGetLastError(), label), kSocketErrorCaption.toString(), MB_OK);
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
    return Connection.ConnectionState == csConnected;
}

void TSession::SendMove(int column)
{
    TDataPacket move;
    move.Kind = pkMove;
    move.Column = column;
    Connection.SendPacket(Connection.Sock, move);
}

void TSession::SendNewGame()
{
    TDataPacket newGame;
    newGame.Kind = pkNewGame;
    Connection.SendPacket(Connection.Sock, newGame);
}
