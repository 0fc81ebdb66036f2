#include "app/ComputerOpponent.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <utility>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

constexpr QStringView kCannotStart = u"L'ordinateur n'a pas pu démarrer (%1).";
constexpr int kGoodbyeMs = 2000;

}  // namespace

TComputerOpponent::TComputerOpponent(QObject* parent)
    : QObject(parent)
    , Program(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaro-bot"))
{
}

TComputerOpponent::~TComputerOpponent()
{
    // The program is quitting: the bot goes now, not once it notices the closed connection.
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished();
    }
}

void TComputerOpponent::Start(TLevel level)
{
    if (Phase != phIdle)
        return;
    Process = new QProcess(this);
    Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef __linux__
    // Should the program die without its destructors, the bot follows it.
    Process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    connect(Process, &QProcess::readyReadStandardOutput, this, &TComputerOpponent::ReadPort);
    connect(Process, &QProcess::finished, this, &TComputerOpponent::ProcessEnded);
    connect(Process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ProcessEnded();
    });
    Phase = phStarting;
    const std::string_view name = LevelName(level);
    const QString levelName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    Process->start(Program, {QStringLiteral("--listen"), QStringLiteral("0"), QStringLiteral("--loopback"),
                             QStringLiteral("--level"), levelName});
}

void TComputerOpponent::ConnectionStateChanged(TConnectionState state)
{
    if (Phase == phConnecting && (state == csConnecting || state == csConnected))
        Phase = phPlaying;
    else if (Phase == phPlaying && state == csNone)
        Stop();
}

void TComputerOpponent::ReadPort()
{
    if (Phase != phStarting || !Process->canReadLine())
        return;
    bool ok = false;
    const quint16 port = Process->readLine().trimmed().toUShort(&ok);
    if (!ok || port == 0) {
        ProcessEnded();
        return;
    }
    Phase = phConnecting;
    emit Listening(port);
    // Nothing connected to it (the window found itself busy): it has no reason to stay.
    if (Phase == phConnecting)
        Stop();
}

// The bot ended or never started: while it was starting, that is a failure to report.
void TComputerOpponent::ProcessEnded()
{
    const bool failed = Phase == phStarting;
    Stop();
    if (failed)
        emit Failed(kCannotStart.arg(Program));
}

void TComputerOpponent::Stop()
{
    Phase = phIdle;
    if (!Process)
        return;
    QProcess* ending = std::exchange(Process, nullptr);
    ending->disconnect(this);
    if (ending->state() == QProcess::NotRunning) {
        ending->deleteLater();
        return;
    }
    // It leaves by itself once the connection is gone; the kill is for when it does not.
    connect(ending, &QProcess::finished, ending, &QObject::deleteLater);
    QTimer::singleShot(kGoodbyeMs, ending, &QProcess::kill);
}
