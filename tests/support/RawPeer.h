#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <netinet/in.h>
#include <utility>

// 127.0.0.1 at the given port, ready for bind or connect.
sockaddr_in LoopbackAddress(std::uint16_t port);

// A plain loopback socket for tests: the far end of a connection that the code
// under test does not control, so a test can read late, read nothing, or close abruptly.
// Reads never block; sends wait for room, up to 10 s.
class TRawPeer
{
public:
    TRawPeer() = default;
    explicit TRawPeer(int fd) : Fd(fd) {}
    ~TRawPeer() { Close(); }
    TRawPeer(TRawPeer&& other) noexcept : Fd(std::exchange(other.Fd, -1)), EndOfStream(other.EndOfStream) {}
    TRawPeer& operator=(TRawPeer&& other) noexcept  // the old descriptor closes with other
    {
        std::swap(Fd, other.Fd), std::swap(EndOfStream, other.EndOfStream);
        return *this;
    }

    static TRawPeer Listener();                     // 127.0.0.1, a free port, listening
    static TRawPeer BoundNotListening();             // a port on which connects are refused
    static TRawPeer ConnectTo(std::uint16_t port);  // 127.0.0.1; waits for the connection
    TRawPeer Accept();                              // invalid when nobody is waiting

    bool IsOpen() const { return Fd >= 0; }
    int Descriptor() const { return Fd; }  // for socket options; the peer keeps owning it
    std::uint16_t Port() const;

    qsizetype Send(QByteArrayView bytes);  // what the kernel takes now
    bool SendAll(QByteArrayView bytes);    // waits for room; for small amounts
    QByteArray ReadAvailable();
    bool SawEndOfStream() const { return EndOfStream; }
    void ShutdownWrite();
    void Close();
    void Reset();  // close with RST

private:
    int Fd = -1;
    bool EndOfStream = false;
};
