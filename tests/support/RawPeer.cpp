#include "support/RawPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

namespace {

int NewSocket()
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool WaitFor(int fd, short events, int timeoutMs)
{
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

}  // namespace

TRawPeer::TRawPeer(int fd)
    : Fd(fd)
{
}

TRawPeer::~TRawPeer()
{
    Close();
}

TRawPeer::TRawPeer(TRawPeer&& other) noexcept
    : Fd(std::exchange(other.Fd, -1))
    , EndOfStream(other.EndOfStream)
{
}

TRawPeer& TRawPeer::operator=(TRawPeer&& other) noexcept
{
    if (this != &other) {
        Close();
        Fd = std::exchange(other.Fd, -1);
        EndOfStream = other.EndOfStream;
    }
    return *this;
}

TRawPeer TRawPeer::Listener()
{
    TRawPeer peer = BoundNotListening();
    if (peer.IsOpen() && ::listen(peer.Fd, 8) != 0)
        peer.Close();
    return peer;
}

TRawPeer TRawPeer::BoundNotListening()
{
    TRawPeer peer(NewSocket());
    const sockaddr_in address = LoopbackAddress(0);
    if (peer.IsOpen() && ::bind(peer.Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        peer.Close();
    return peer;
}

TRawPeer TRawPeer::ConnectTo(std::uint16_t port)
{
    TRawPeer peer(NewSocket());
    const sockaddr_in address = LoopbackAddress(port);
    if (!peer.IsOpen())
        return peer;
    if (::connect(peer.Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return peer;
    int err = 0;
    socklen_t length = sizeof err;
    if (errno != EINPROGRESS || !WaitFor(peer.Fd, POLLOUT, 10000)
        || getsockopt(peer.Fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0 || err != 0)
        peer.Close();
    return peer;
}

TRawPeer TRawPeer::Accept()
{
    return TRawPeer(::accept4(Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

std::uint16_t TRawPeer::Port() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

qsizetype TRawPeer::Send(QByteArrayView bytes)
{
    const ssize_t n = ::send(Fd, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    return n > 0 ? n : 0;
}

bool TRawPeer::SendAll(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n = ::send(Fd, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
        if (n > 0)
            bytes = bytes.sliced(n);
        else if (n < 0 && (errno != EAGAIN || !WaitFor(Fd, POLLOUT, 10000)))
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
        else if (n == 0 || errno != EAGAIN)
            EndOfStream = true;
        else
            break;
    }
    return bytes;
}

void TRawPeer::ShutdownWrite()
{
    ::shutdown(Fd, SHUT_WR);
}

void TRawPeer::Close()
{
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
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
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count - 1;  // the directory stream's own descriptor
}
