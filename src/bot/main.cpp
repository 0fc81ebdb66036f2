// tessaro-bot: the computer opponent, an ordinary peer on the wire. It listens or connects,
// plays one connection's games at the chosen level, and ends with the connection.

#include "bot/BotWindow.h"
#include "engine/Analysis.h"
#include "engine/Engine.h"
#include "engine/OpeningBook.h"
#include "engine/Position.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr int kUsageError = 2;

[[noreturn]] void Fail(const QString& message, int status)
{
    std::fprintf(stderr, "tessaro-bot: %s\n", qUtf8Printable(message));
    std::exit(status);
}

int PrintAnalysis(const QString& moves, const TOpeningBook& book)
{
    int bad = -1;
    const std::optional<TPosition> position = TPosition::FromMoves(moves.toStdString(), &bad);
    if (!position)
        Fail(QStringLiteral("invalid move sequence \"%1\": move %2 cannot be played").arg(moves).arg(bad + 1),
             kUsageError);
    std::printf("%s\n", FormatAnalysis(Analyse(*position, book)).c_str());
    return 0;
}

QString Utf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "Débutant, Moyen, Fort or Parfait."
QString LevelChoices()
{
    QString text;
    for (std::size_t i = 0; i < kLevelNames.size(); ++i)
        text += (i == 0 ? QString() : i + 1 < kLevelNames.size() ? QStringLiteral(", ") : QStringLiteral(" or "))
            + Utf8(kLevelNames[i]);
    return text + u'.';
}

std::uint64_t RandomSeed()
{
    std::random_device device;
    return (std::uint64_t{device()} << 32) | device();
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaro-bot"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The computer opponent of Tessaro, four in a row over TCP."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("Wait for a player on PORT (0: any free port)."),
                                    QStringLiteral("PORT"));
    const QCommandLineOption connect(QStringLiteral("connect"), QStringLiteral("Connect to a player at HOST PORT."),
                                     QStringLiteral("HOST"));
    const QCommandLineOption loopback(QStringLiteral("loopback"),
                                      QStringLiteral("Listen for players on this computer only."));
    const QCommandLineOption level(QStringLiteral("level"), LevelChoices(), QStringLiteral("LEVEL"),
                                   Utf8(LevelName(TLevel::Moyen)));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The name the player sees."),
                                  QStringLiteral("NAME"), QStringLiteral("Ordinateur"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the levels' chance (for tests)."),
                                  QStringLiteral("N"));
    const QCommandLineOption analyse(QStringLiteral("analyse"),
                                     QStringLiteral("Print the scores of the position MOVES (columns 1 to 7) and stop."),
                                     QStringLiteral("MOVES"));
    parser.addOptions({listen, connect, loopback, level, name, seed, analyse});
    parser.addPositionalArgument(QStringLiteral("PORT"), QStringLiteral("The port, with --connect."));

    if (!parser.parse(QCoreApplication::arguments()))
        Fail(parser.errorText(), kUsageError);
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();

    const TOpeningBook book = LoadOpeningBook(QCoreApplication::applicationDirPath().toStdString());
    if (parser.isSet(analyse)) {
        if (!parser.positionalArguments().isEmpty())
            Fail(QStringLiteral("--analyse takes no other argument"), kUsageError);
        return PrintAnalysis(parser.value(analyse), book);
    }

    const bool connecting = parser.isSet(connect);
    if (connecting == parser.isSet(listen))
        Fail(QStringLiteral("give either --listen PORT or --connect HOST PORT"), kUsageError);
    if (parser.positionalArguments().size() != (connecting ? 1 : 0))
        Fail(connecting ? QStringLiteral("--connect needs HOST and PORT") : QStringLiteral("unexpected argument"),
             kUsageError);
    const std::optional<TLevel> chosen = LevelFromName(parser.value(level).toStdString());
    if (!chosen)
        Fail(QStringLiteral("unknown level \"%1\"").arg(parser.value(level)), kUsageError);
    bool seedOk = true;
    const std::uint64_t seedValue = parser.isSet(seed) ? parser.value(seed).toULongLong(&seedOk) : RandomSeed();
    if (!seedOk)
        Fail(QStringLiteral("--seed needs a whole number"), kUsageError);

    TBotWindow bot(parser.value(name), *chosen, book, seedValue, parser.isSet(loopback));
    QObject::connect(&bot, &TBotWindow::Ended, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    if (connecting) {
        if (!bot.Connect(parser.value(connect), parser.positionalArguments().first()))
            return 1;
    } else {
        const std::optional<std::uint16_t> port = bot.Listen(parser.value(listen));
        if (!port)
            return 1;
        // On a line of its own, so a program that started us can read where to connect.
        std::printf("%u\n", unsigned{*port});
        std::fflush(stdout);
    }
    return QCoreApplication::exec();
}
