#include "net/DataPacket.h"
#include "net/PacketSamples.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace PacketSamples;

namespace {

bool WriteSeed(const QDir& dir, const QString& name, char pieceSize, const QByteArray& stream)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(QByteArray(1, pieceSize) + stream) == stream.size() + 1;
}

} // namespace

// Writes the seed corpus of fuzz_decoder: real encoded streams, each behind the byte that
// picks the piece size they are fed in.
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QList<std::pair<QString, QByteArray>> seeds = {
        {"chat_abc", EncodePacket(MakePacket(pkChat, "abc"))},
        {"move_4", EncodePacket(MakePacket(pkMove, {}, 4))},
        {"bye", EncodePacket(MakePacket(pkBye))},
        {"name_then_new_game", EncodeAll({MakePacket(pkName, "Zoé"), MakePacket(pkNewGame)})},
        {"long_chat", EncodePacket(MakePacket(pkChat, QString(300, u'é')))},
        {"unknown_kind_between", EncodeAll({MakePacket(pkMove, {}, 3), MakePacket(7), MakePacket(pkMove, {}, 40000)})},
        {"mixed", EncodeAll(SamplePackets(1, 12, 120))},
    };
    const char pieceSizes[] = {0, 1, 3, 29};
    for (qsizetype i = 0; i < seeds.size(); ++i) {
        const char pieceSize = pieceSizes[i % std::size(pieceSizes)];
        if (!WriteSeed(dir, seeds[i].first, pieceSize, seeds[i].second)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(seeds[i].first)));
            return 1;
        }
    }
    return 0;
}
