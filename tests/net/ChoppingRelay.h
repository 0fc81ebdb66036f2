#pragma once

#include "support/RawPeer.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <memory>

// A loopback relay between two programs, one connection at a time, that passes each
// direction on in pieces of random size (single bytes among them), one piece per direction
// per turn of the event loop, so the receiver meets packets cut at every possible place.
// Half-closes are passed on once everything before them has been, and the relay lets go of
// both ends when both directions have ended.
class TChoppingRelay
{
public:
    explicit TChoppingRelay(quint32 seed);
    ~TChoppingRelay();
    TChoppingRelay(const TChoppingRelay&) = delete;
    TChoppingRelay& operator=(const TChoppingRelay&) = delete;

    std::uint16_t Port() const { return Listener.Port(); }
    void SetTarget(std::uint16_t port) { TargetPort = port; }
    bool Idle() const { return !Client.IsOpen() && !Server.IsOpen(); }
    qint64 Pieces() const { return PieceCount; }

private:
    struct TDirection
    {
        TRawPeer* From = nullptr;
        TRawPeer* To = nullptr;
        std::unique_ptr<QSocketNotifier> Readable;
        QByteArray Pending;
        bool Ended = false;  // the source has closed its side
        bool Shut = false;   // and that close was passed on
    };

    void Accept();
    void Open(TDirection& direction);
    void Read(TDirection& direction);
    void Pump();
    void Forward(TDirection& direction);
    qsizetype PieceSize();
    void Release();

    QRandomGenerator Random;
    TRawPeer Listener;
    QSocketNotifier Accepting;
    TRawPeer Client;
    TRawPeer Server;
    TDirection Up;
    TDirection Down;
    QTimer Pumping;
    std::uint16_t TargetPort = 0;
    qint64 PieceCount = 0;
};
