#pragma once

#include "net/DataPacket.h"
#include "net/PacketSamples.h"
#include "net/SocketLayer.h"
#include "session/Session.h"
#include "support/FakeWindow.h"
#include "support/ModalLoop.h"
#include "support/RawPeer.h"

// One running program without widgets: the session core and a fake window.
struct TPlayer
{
    explicit TPlayer(const QString& name, TSessionOptions options = {})
        : Session(Window, std::move(options))
    {
        Session.Match.LocalName = name;
        Session.UpdateStatus();
    }
    const TSession& Net() const { return Session; }
    TMatchFlow& Match() { return Session.Match; }
    TSocketLayer& Sockets() { return Session.SocketLayer(); }
    bool Idle() { return Net().State() == csNone && Net().Socket() == 0 && Sockets().OpenSockets() == 0; }

    TFakeWindow Window;
    TSession Session;
};

using PacketSamples::MakePacket;

inline QByteArray Encoded(std::int32_t kind, std::int32_t column = 0, const QString& text = {})
{
    return EncodePacket(MakePacket(kind, text, column));
}

// The player listens on a free port and a raw peer connects; closed when that failed. The
// chat starts empty: the addresses notice of listening is cleared.
inline TRawPeer ConnectRawPeer(TPlayer& player)
{
    player.Session.Listen(QStringLiteral("0"));
    player.Window.ChatLines.clear();
    TRawPeer peer = TRawPeer::ConnectTo(player.Net().LocalPort());
    if (!RunModalUntil([&] { return player.Net().State() == csConnected; }))
        peer.Close();
    return peer;
}

// After any abuse, the program must still take a new game and a move from its peer.
inline bool MoveIsApplied(TPlayer& player, TRawPeer& peer)
{
    return peer.SendAll(Encoded(pkNewGame) + Encoded(pkMove, 4)) && RunModalUntil([&] {
        return player.Match().Board.Cell(4, 1) == cvRemote && player.Match().GameState == gsLocalTurn;
    });
}
