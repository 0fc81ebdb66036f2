#include "net/DataPacket.h"
#include "session/Session.h"
#include "support/FakeWindow.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// Decodes a stream and dispatches every packet into a whole session, as the receive path
// does, with a fake window that answers every box at once. After every packet the position
// must still be one the rules can reach and the state must be in range.
//
// Byte 0 picks the piece size the stream arrives in (0: all at once). Byte 1 picks the
// answers: bit 0 plays again after a loss, bit 1 answers Yes to questions, bit 2 makes the
// local player answer every packet with a move of its own when it is its turn.

namespace {

enum TModeBits : std::uint8_t { mbPlayAgain = 1, mbAnswerYes = 2, mbReplyWithMoves = 4 };

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckInvariants(TSession& session)
{
    const TMatchFlow& match = session.Match;
    for (int col = 1; col <= kColumns; ++col) {
        // Pieces stand on each other: no empty cell below a piece.
        bool emptyBelow = false;
        for (int row = 1; row <= kRows; ++row) {
            const std::int32_t cell = match.Board.Cell(col, row);
            Require(cell == cvEmpty || cell == cvLocal || cell == cvRemote);
            Require(cell == cvEmpty || !emptyBelow);
            emptyBelow = emptyBelow || cell == cvEmpty;
        }
    }
    Require(match.GameState >= gsNone && match.GameState <= gsRemoteTurn);
    Require(match.LocalScore >= 0 && match.RemoteScore >= 0);
    Require(session.State() >= csNone && session.State() <= csConnecting);
    if (!session.IsConnected())
        Require(match.LocalScore == 0 && match.RemoteScore == 0);
}

struct TBefore
{
    TBoard Board;
    TGameState GameState;
    std::int32_t RemoteScore;
    qsizetype ChatLines;
};

// A remote move without a win: one piece of the opponent on top of the column, if it had room.
bool DroppedOnce(const TBoard& before, const TBoard& after, int column)
{
    TBoard expected = before;
    expected.Drop(column, cvRemote);
    return after == expected;
}

// What one packet must have done, beyond the invariants.
void CheckEffect(const TSession& session, const TFakeWindow& window, const TDataPacket& packet, const TBefore& before,
                 std::uint8_t mode)
{
    const TMatchFlow& match = session.Match;
    const bool logged = packet.Kind == pkChat || packet.Kind == pkName || packet.Kind == pkBye;
    Require(window.ChatLines.size() == before.ChatLines + (logged ? 1 : 0));
    if (packet.Kind == pkChat)
        Require(window.ChatLines.first() == packet.Text);
    if (packet.Kind == pkName)
        Require(match.RemoteName == packet.Text);
    if (packet.Kind == pkNewGame)
        Require(match.Board == TBoard() && match.GameState == gsRemoteTurn);
    if (packet.Kind != pkMove && packet.Kind != pkNewGame)
        Require(match.Board == before.Board && match.GameState == before.GameState);
    if (packet.Kind != pkMove)
        return;
    if (packet.Column < 1 || packet.Column > kColumns) {
        Require(match.Board == before.Board && match.GameState == before.GameState);
    } else if (window.PlayAgainMessages.isEmpty()) {
        Require(DroppedOnce(before.Board, match.Board, packet.Column) && match.GameState == gsLocalTurn);
    } else if (mode & mbPlayAgain) {
        // Lost, counted, and the loser opens the next game.
        Require(match.Board == TBoard() && match.GameState == gsLocalTurn);
        Require(match.RemoteScore == before.RemoteScore + 1 || !session.IsConnected());
    } else {
        Require(match.GameState == gsNone && !session.IsConnected());
    }
}

// The local player's answer: the same column when it has room, else the first that has.
void ReplyWithMove(TSession& session, std::int32_t column)
{
    if (session.Match.GameState != gsLocalTurn)
        return;
    const TBoard& board = session.Match.Board;
    int col = column >= 1 && column <= kColumns ? column : 1;
    for (int tries = 0; tries < kColumns && board.FreeRow(col) == 0; ++tries)
        col = col % kColumns + 1;
    if (const int row = board.FreeRow(col))
        session.PlayLocalMove(col, row);
}

// Connected without a socket: what the session sends goes nowhere, and its Disconnect (the
// answer to a lost game) ends the connection.
class TDetachedSession : public TSession
{
public:
    using TSession::TSession;
    bool IsConnected() const override { return Connected; }
    void Disconnect() override
    {
        Connected = false;
        TSession::Disconnect();
    }

private:
    bool Connected = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + 2, qsizetype(size) - 2);
    const qsizetype pieceSize = data[0] == 0 ? std::max<qsizetype>(stream.size(), 1) : data[0];
    const std::uint8_t mode = data[1];

    TFakeWindow window;
    window.OnPlayAgain = [mode](const QString&) { return (mode & mbPlayAgain) ? int(IDOK) : int(IDCANCEL); };
    window.OnBox = [mode](const TShownBox& box) {
        if (IsYesNo(box.Flags))
            return (mode & mbAnswerYes) ? int(IDYES) : int(IDNO);
        return int(IDOK);
    };
    TDetachedSession session(window);
    session.Match.LocalName = QStringLiteral("Fuzz");

    TPacketDecoder decoder;
    for (qsizetype pos = 0; pos < stream.size(); pos += pieceSize) {
        decoder.Append(stream.sliced(pos, std::min(pieceSize, stream.size() - pos)));
        while (std::optional<TDataPacket> packet = decoder.Next()) {
            const TBefore before{session.Match.Board, session.Match.GameState, session.Match.RemoteScore,
                                 window.ChatLines.size()};
            window.PlayAgainMessages.clear();
            session.DispatchPacket(*packet);
            CheckInvariants(session);
            CheckEffect(session, window, *packet, before, mode);
            if (mode & mbReplyWithMoves) {
                ReplyWithMove(session, packet->Column);
                CheckInvariants(session);
            }
        }
    }
    return 0;
}
