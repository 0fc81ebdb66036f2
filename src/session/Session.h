#pragma once

#include "game/MatchFlow.h"
#include "net/Connection.h"
#include "net/HostLookup.h"
#include "net/Resolver.h"
#include "session/SessionWindow.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class TSocketLayer;

// Where the session looks at this machine; the system by default, a test's own answers else.
struct TSessionOptions
{
    TConnectionOptions Connection;
    // The host entry for the listening status, looked up on a thread of its own.
    THostLookup::TResolveEntry LookUpHostEntry = [](const QString& name) { return TResolver::GetHostByName(name); };
    std::function<TInterfaceList()> ListInterfaces = TResolver::InterfaceAddresses;
};

// The whole logic of one running program minus its widgets: the games, what the packets on
// the connection mean, and the texts of the status bar and the chat notices. The window shows
// what it is told and answers the boxes.
class TSession : public TMatchHost, private TConnectionEvents
{
public:
    explicit TSession(TSessionWindow& window, TSessionOptions options = {});
    ~TSession() override;
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

private:
    // Declared first: the members below hold on to them.
    TSessionWindow& Window;
    const TSessionOptions Options;
    std::unique_ptr<TSocketLayer> Sockets;

public:
    TMatchFlow Match;

    // The commands of the connection menu, after its dialogs. Those that the current state
    // does not allow are ignored, as the menu would not offer them.
    void Connect(const QString& address, const QString& port);
    void Listen(const QString& port);
    void Disconnect() override;  // says goodbye first
    void StopListening();
    void CloseConnection();
    void New1Click();
    void PlayLocalMove(int column, int row);

    // The Enter key in the chat input: "name: text" goes on top of the log and to the peer.
    void EnterChatText(const QString& typed);
    void SendChatLine(const QString& line);
    void InsertChatLine(const QString& line);

    void UpdateStatus() override;
    QString GameText() const;

    TConnectionState State() const { return Connection.State(); }
    TSocket Socket() const { return Connection.Socket(); }
    const QString& PeerAddress() const { return Connection.PeerAddress(); }
    const QString& PortText() const { return TypedPort; }
    std::uint16_t LocalPort() const { return Connection.LocalPort(); }

    static QString ApplicationTitle();

    TSocketLayer& SocketLayer() { return *Sockets; }

    // The listening status's address: the host name's, unless that is not known yet or a
    // loopback address the other player cannot reach; then the first IPv4 address of an
    // interface that is up.
    static QString ListenAddress(const QString& hostAddress, const TInterfaceList& interfaces);

    // TMatchHost
    void RepaintBoard() override;
    void DrawWinLine(int col1, int row1, int col2, int row2) override;
    void ShowMessage(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    bool AskPlayAgain(const QString& message) override;
    bool IsConnected() const override;
    void SendMove(int column) override;
    void SendNewGame() override;

    // TConnectionEvents
    void DispatchPacket(const TDataPacket& packet) override;

private:
    void ConnectStarted() override;
    void ConnectCompleted() override;
    void PeerAccepted() override;
    void Closed(bool wasListening) override;
    void SocketFailed(QStringView label, int error) override;
    void NameNotFound() override;
    void AcceptFailed() override;

    // The chat notice of the addresses the other player can use, IPv4 first.
    static QString AddressNotice(const TInterfaceList& interfaces, bool withIPv6);
    // A TCP service name, else a decimal 32-bit integer cut to its low 16 bits; else nullopt.
    static std::optional<std::uint16_t> PortFromText(const QString& text);
    // The four connection menu items of a state (the texts are left empty).
    static TStatusTexts ConnectionMenu(TConnectionState state);
    TStatusTexts StatusTexts() const;

    void SendName();
    void ShowError(const QString& message);
    void ReportSocketError(QStringView label, int error);
    bool TakeTypedPort(const QString& port);
    void ReportPortText();
    void LookUpListenStatus();
    QString ListenStatus(const QString& hostName, const QString& dotted) const;
    void EndListening();

    TConnection Connection;
    QString TypedPort;
    QString ListenStatusText;
    // This machine's host entry while listening.
    std::unique_ptr<THostLookup> ListenLookup;
    bool AcceptFailureShown = false;  // since listening began
};
