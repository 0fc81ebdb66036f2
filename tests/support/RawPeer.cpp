#include "support/RawPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

namespace {

// Blocking calls give up after 10 s, so a peer the program stopped reading fails instead of hanging.
int WithTimeout(int fd)
{
    const timeval wait{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    return fd;
}

enum class TOpen { Bind, Listen, Connect };

// Closed on failure. A listener does not block in accept; other peers block to connect and send.
TRawPeer Open(std::uint16_t port, TOpen how)
{
    TRawPeer peer(
        WithTimeout(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (how == TOpen::Listen ? SOCK_NONBLOCK : 0), 0)));
    const int fd = peer.Descriptor();
    const sockaddr_in address = LoopbackAddress(port);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = how == TOpen::Connect
        ? ::connect(fd, raw, sizeof address) == 0
        : ::bind(fd, raw, sizeof address) == 0 && (how == TOpen::Bind || ::listen(fd, 8) == 0);
    if (!ok)
        peer.Close();
    return peer;
}

}  // namespace

TRawPeer TRawPeer::Listener() { return Open(0, TOpen::Listen); }
TRawPeer TRawPeer::BoundNotListening() { return Open(0, TOpen::Bind); }
TRawPeer TRawPeer::ConnectTo(std::uint16_t port) { return Open(port, TOpen::Connect); }
TRawPeer TRawPeer::Accept() { return TRawPeer(WithTimeout(::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC))); }

std::uint16_t TRawPeer::Port() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    return getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? ntohs(address.sin_port) : 0;
}

qsizetype TRawPeer::Send(QByteArrayView bytes)
{
    return std::max<ssize_t>(0, ::send(Fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT));
}

bool TRawPeer::SendAll(QByteArrayView bytes)
{
    for (ssize_t n = 0; !bytes.isEmpty(); bytes = bytes.sliced(n))
        if ((n = ::send(Fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL)) <= 0)
            return false;
    return true;
}

QByteArray TRawPeer::ReadAvailable()
{
    QByteArray bytes;
    char buffer[65536];
    while (!EndOfStream) {
        const ssize_t n = ::recv(Fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EAGAIN)
            break;
        EndOfStream = n <= 0;
        bytes.append(buffer, std::max<ssize_t>(n, 0));
    }
    return bytes;
}

void TRawPeer::ShutdownWrite() { ::shutdown(Fd, SHUT_WR); }

void TRawPeer::Close()
{
    if (Fd >= 0)
        ::close(std::exchange(Fd, -1));
}

void TRawPeer::Reset()
{
    const linger abortive{1, 0};
    setsockopt(Fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    Close();
}
