#include "net/ChoppingRelay.h"

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// Each piece leaves at once as its own segment, instead of waiting for the previous one's
// acknowledgement (Nagle), which a delayed acknowledgement would hold up for tens of ms.
void SendPiecesAtOnce(const TRawPeer& peer)
{
    const int on = 1;
    ::setsockopt(peer.Descriptor(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// The programs send packets back to back with Nagle on: each waits for the acknowledgement
// of the one before, which must not be delayed. Linux forgets this after a while, so it is
// asked for again at every read.
void AcknowledgeAtOnce(const TRawPeer& peer)
{
    const int on = 1;
    ::setsockopt(peer.Descriptor(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

}  // namespace

TChoppingRelay::TChoppingRelay(quint32 seed)
    : Random(seed)
    , Listener(TRawPeer::Listener())
    , Accepting(Listener.Descriptor(), QSocketNotifier::Read)
{
    Up.From = &Client;
    Up.To = &Server;
    Down.From = &Server;
    Down.To = &Client;
    QObject::connect(&Accepting, &QSocketNotifier::activated, &Accepting, [this] { Accept(); });
    QObject::connect(&Pumping, &QTimer::timeout, &Pumping, [this] { Pump(); });
    Pumping.setInterval(0);
}

TChoppingRelay::~TChoppingRelay()
{
    Release();
}

void TChoppingRelay::Accept()
{
    TRawPeer incoming = Listener.Accept();
    if (!incoming.IsOpen() || !Idle())
        return;  // one connection at a time: a second one is closed at once
    Client = std::move(incoming);
    Server = TRawPeer::ConnectTo(TargetPort);
    if (!Server.IsOpen()) {
        Client.Close();
        return;
    }
    for (const TRawPeer* peer : {&Client, &Server}) {
        SendPiecesAtOnce(*peer);
        AcknowledgeAtOnce(*peer);
    }
    Open(Up);
    Open(Down);
}

void TChoppingRelay::Open(TDirection& direction)
{
    direction.Pending.clear();
    direction.Ended = false;
    direction.Shut = false;
    direction.Readable = std::make_unique<QSocketNotifier>(direction.From->Descriptor(), QSocketNotifier::Read);
    QSocketNotifier* notifier = direction.Readable.get();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this, &direction] { Read(direction); });
}

void TChoppingRelay::Read(TDirection& direction)
{
    direction.Pending += direction.From->ReadAvailable();
    AcknowledgeAtOnce(*direction.From);
    if (direction.From->SawEndOfStream()) {
        direction.Ended = true;
        direction.Readable->setEnabled(false);  // an ended socket stays readable for ever
    }
    Pumping.start();
}

void TChoppingRelay::Pump()
{
    Forward(Up);
    Forward(Down);
    if (Up.Shut && Down.Shut) {
        Release();
        return;
    }
    const bool more = !Up.Pending.isEmpty() || !Down.Pending.isEmpty() || (Up.Ended && !Up.Shut)
        || (Down.Ended && !Down.Shut);
    if (!more)
        Pumping.stop();
}

void TChoppingRelay::Forward(TDirection& direction)
{
    if (direction.Shut)
        return;
    if (direction.Pending.isEmpty()) {
        if (direction.Ended) {
            direction.To->ShutdownWrite();
            direction.Shut = true;
        }
        return;
    }
    const qsizetype size = std::min(PieceSize(), direction.Pending.size());
    const qsizetype sent = direction.To->Send(QByteArrayView(direction.Pending).first(size));
    if (sent == 0) {
        // A few bytes always fit on loopback: the receiver has gone, and so has the rest.
        direction.Pending.clear();
        direction.Shut = true;
        return;
    }
    direction.Pending.remove(0, sent);
    ++PieceCount;
}

qsizetype TChoppingRelay::PieceSize()
{
    // A third of the pieces are single bytes, a third cut inside a packet, a third across two.
    switch (Random.bounded(3)) {
    case 0:
        return 1;
    case 1:
        return Random.bounded(2, 22);
    default:
        return Random.bounded(22, 64);
    }
}

void TChoppingRelay::Release()
{
    Pumping.stop();
    // Notifiers let go of the descriptors before they are closed.
    Up.Readable.reset();
    Down.Readable.reset();
    Client.Close();
    Server.Close();
}
