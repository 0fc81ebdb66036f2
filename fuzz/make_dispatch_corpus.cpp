#include "net/DataPacket.h"
#include "net/PacketSamples.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace PacketSamples;

namespace {

QList<TDataPacket> Moves(std::initializer_list<int> columns)
{
    QList<TDataPacket> packets;
    for (const int column : columns)
        packets.append(MakePacket(pkMove, {}, column));
    return packets;
}

bool WriteSeed(const QDir& dir, const QString& name, char pieceSize, char mode, const QList<TDataPacket>& packets)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = QByteArray(1, pieceSize) + QByteArray(1, mode) + EncodeAll(packets);
    return file.write(bytes) == bytes.size();
}

struct TSeed
{
    QString Name;
    char PieceSize;  // 0: all at once
    char Mode;       // bit 0 play again, bit 1 answer Yes, bit 2 reply with local moves
    QList<TDataPacket> Packets;
};

} // namespace

// Writes the seed corpus of fuzz_dispatch: real conversations, each behind the bytes that
// pick the piece size and the answers of the fake window.
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QList<TDataPacket> opening = {MakePacket(pkName, "Zoé"), MakePacket(pkNewGame)};
    const QList<TSeed> seeds = {
        {"opponent_wins_then_plays_again", 0, 1, opening + Moves({1, 1, 1, 1, 5})},
        {"opponent_wins_then_leaves", 3, 0, opening + Moves({2, 2, 2, 2}) + QList{MakePacket(pkBye)}},
        {"both_play_one_column", 1, 4, opening + Moves({3, 3, 3, 3})},
        {"local_player_wins", 0, 5, opening + Moves({1, 2, 1, 2, 1, 2, 1})},
        {"moves_off_the_board", 7, 4, opening + Moves({0, 8, -1, 40000, 4})},
        {"unknown_kinds_and_chat",
         2, 0, {MakePacket(7), MakePacket(pkChat, "Paul: salut"), MakePacket(-1), MakePacket(pkChat, QString(300, u'à'))}},
        {"new_game_in_mid_game", 5, 6, opening + Moves({4, 5}) + QList{MakePacket(pkNewGame)} + Moves({6})},
        {"mixed", 29, 7, SamplePackets(7, 40, 60)},
    };
    for (const TSeed& seed : seeds) {
        if (!WriteSeed(dir, seed.Name, seed.PieceSize, seed.Mode, seed.Packets)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(seed.Name)));
            return 1;
        }
    }
    return 0;
}
