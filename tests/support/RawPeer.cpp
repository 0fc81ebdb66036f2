#include "support/RawPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

namespace {

enum class TOpen { Bind, Listen, Connect };

// Binds (and listens), or connects with a wait of up to 10 s, to 127.0.0.1 at the port;
// closed on failure.
TRawPeer Open(std::uint16_t port, TOpen how)
{
    TRawPeer peer(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(port);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    int err = 0;
    socklen_t length = sizeof err;
    pollfd entry{peer.Descriptor(), POLLOUT, 0};
    if (!peer.IsOpen() || how != TOpen::Connect) {
        if (peer.IsOpen() && (::bind(peer.Descriptor(), raw, sizeof address) != 0
                              || (how == TOpen::Listen && ::listen(peer.Descriptor(), 8) != 0)))
            peer.Close();
    } else if (::connect(peer.Descriptor(), raw, sizeof address) != 0
               && (errno != EINPROGRESS || ::poll(&entry, 1, 10000) <= 0
                   || getsockopt(peer.Descriptor(), SOL_SOCKET, SO_ERROR, &err, &length) != 0 || err != 0)) {
        peer.Close();
    }
    return peer;
}

}  // namespace

TRawPeer& TRawPeer::operator=(TRawPeer&& other) noexcept
{
    if (this != &other) {
        Close();
        Fd = std::exchange(other.Fd, -1);
        EndOfStream = other.EndOfStream;
    }
    return *this;
}

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
    pollfd entry{Fd, POLLOUT, 0};
    while (!bytes.isEmpty()) {
        const ssize_t n = ::send(Fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL);
        if (n > 0)
            bytes = bytes.sliced(n);
        else if (n < 0 && (errno != EAGAIN || ::poll(&entry, 1, 10000) <= 0))
            return false;
    }
    return true;
}

QByteArray TRawPeer::ReadAvailable(qsizetype limit)
{
    QByteArray bytes;
    char buffer[65536];
    while (bytes.size() < limit && !EndOfStream) {
        const ssize_t n = ::recv(Fd, buffer, sizeof buffer, 0);
        if (n > 0)
            bytes.append(buffer, n);
        else if (n < 0 && errno == EAGAIN)
            break;
        else
            EndOfStream = true;
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

int OpenDescriptorCount()
{
    DIR* dir = opendir("/proc/self/fd");
    int count = -1;  // the directory stream's own descriptor
    while (const dirent* entry = dir ? readdir(dir) : nullptr)
        count += entry->d_name[0] != '.';
    if (dir)
        closedir(dir);
    return dir ? count : -1;
}
