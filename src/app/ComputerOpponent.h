#pragma once

#include "engine/Levels.h"
#include "net/Connection.h"

#include <QObject>
#include <QString>

class QProcess;

// The computer opponent as the window runs it: a tessaro-bot process beside the program,
// listening on a free loopback port that it prints on its first line. It lives as long as
// the window's connection to it, and never longer than the window.
class TComputerOpponent : public QObject
{
    Q_OBJECT

public:
    explicit TComputerOpponent(QObject* parent = nullptr);
    ~TComputerOpponent() override;

    // tessaro-bot beside the running program; tests point it elsewhere.
    QString Program;

    // Started and its port not known yet: no second one may start meanwhile.
    bool IsStarting() const { return Phase == phStarting; }
    void Start(TLevel level);
    // Called with every change of the window's connection state.
    void ConnectionStateChanged(TConnectionState state);

signals:
    void Listening(quint16 port);  // connect to it now
    void Failed(const QString& message);

private:
    enum TPhase { phIdle, phStarting, phConnecting, phPlaying };

    void ReadPort();
    void ProcessEnded();
    void Stop();

    QProcess* Process = nullptr;
    TPhase Phase = phIdle;
};
