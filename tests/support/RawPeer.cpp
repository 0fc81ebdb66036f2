#include "support/RawPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

namespace {

bool WaitForRoom(int fd)
{
    pollfd entry{fd, POLLOUT, 0};
    return ::poll(&entry, 1, 10000) > 0;
}

enum class TOpen { Bind, Listen, Connect };

// Closed on failure; a connect waits up to 10 s.
TRawPeer Open(std::uint16_t port, TOpen how)
{
    TRawPeer peer(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = peer.Descriptor();
    const sockaddr_in address = LoopbackAddress(port);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    int err = 0;
    socklen_t length = sizeof err;
    const bool ok = how == TOpen::Connect
        ? ::connect(fd, raw, sizeof address) == 0
              || (errno == EINPROGRESS && WaitForRoom(fd) && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) == 0 && !err)
        : ::bind(fd, raw, sizeof address) == 0 && (how == TOpen::Bind || ::listen(fd, 8) == 0);
    if (!ok)
        peer.Close();
    return peer;
}

}  // namespace

TRawPeer TRawPeer::Listener() { return Open(0, TOpen::Listen); }
TRawPeer TRawPeer::BoundNotListening() { return Open(0, TOpen::Bind); }
TRawPeer TRawPeer::ConnectTo(std::uint16_t port) { return Open(port, TOpen::Connect); }
TRawPeer TRawPeer::Accept() { return TRawPeer(::accept4(Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)); }

std::uint16_t TRawPeer::Port() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    return getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? ntohs(address.sin_port) : 0;
}

qsizetype TRawPeer::Send(QByteArrayView bytes)
{
    return std::max<ssize_t>(0, ::send(Fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL));
}

bool TRawPeer::SendAll(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n = ::send(Fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL);
        if (n > 0)
            bytes = bytes.sliced(n);
        else if (n < 0 && (errno != EAGAIN || !WaitForRoom(Fd)))
            return false;
    }
    return true;
}

QByteArray TRawPeer::ReadAvailable()
{
    QByteArray bytes;
    char buffer[65536];
    while (!EndOfStream) {
        const ssize_t n = ::recv(Fd, buffer, sizeof buffer, 0);
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
