#include "net/ConnectAttempts.h"

#include "net/SocketErrors.h"
#include "net/SocketLayer.h"

#include <algorithm>
#include <sys/socket.h>
#include <utility>

TConnectAttempts::TConnectAttempts(TSocketLayer& sockets, TWon won, TLost lost)
    : Sockets(sockets)
    , OnWon(std::move(won))
    , OnLost(std::move(lost))
{
    Stagger.setSingleShot(true);
    Stagger.callOnTimeout([this] { StartNext(); });
}

TConnectAttempts::~TConnectAttempts()
{
    CloseAll();
}

bool TConnectAttempts::Start(const QList<TSocketAddress>& addresses, std::uint16_t port, int protocol,
                             int attemptMilliseconds)
{
    Waiting = Interleave(addresses);
    for (TSocketAddress& address : Waiting)
        address.SetPort(port);
    Protocol = protocol;
    AttemptMilliseconds = attemptMilliseconds;
    StartNext();
    return !Running.empty();
}

QList<TSocketAddress> TConnectAttempts::Interleave(const QList<TSocketAddress>& addresses)
{
    QList<TSocketAddress> v6;
    QList<TSocketAddress> v4;
    for (const TSocketAddress& address : addresses)
        (address.Family() == AF_INET6 ? v6 : v4).append(address);
    QList<TSocketAddress> turns;
    for (qsizetype i = 0; i < std::max(v6.size(), v4.size()); ++i) {
        if (i < v6.size())
            turns.append(v6[i]);
        if (i < v4.size())
            turns.append(v4[i]);
    }
    return turns;
}

void TConnectAttempts::WMSocketEvent(TSocket socket, std::uint32_t lParam)
{
    if (WSAGetSelectEvent(lParam) != FD_CONNECT)
        return;
    if (const int error = WSAGetSelectError(lParam))
        Failed(socket, error);
    else
        Won(socket);
}

// Addresses that fail at once are passed over; the timer starts the one after.
void TConnectAttempts::StartNext()
{
    while (!Waiting.isEmpty()) {
        if (StartOne(Waiting.takeFirst())) {
            if (!Waiting.isEmpty())
                Stagger.start(kStaggerMilliseconds);
            return;
        }
    }
}

bool TConnectAttempts::StartOne(const TSocketAddress& address)
{
    const TSocket s = Sockets.socket(address.Family(), SOCK_STREAM, Protocol);
    if (s == INVALID_SOCKET) {
        Fail(asSocket, Sockets.WSAGetLastError());
        return false;
    }
    TStep step = asSelect;
    if (Sockets.AsyncSelect(s, this, FD_CONNECT) == 0) {
        step = asConnect;
        if (Sockets.connect(s, address) == 0 || Sockets.WSAGetLastError() == WSAEWOULDBLOCK) {
            auto deadline = std::make_unique<QTimer>();
            deadline->setSingleShot(true);
            deadline->callOnTimeout([this, s] { Failed(s, WSAETIMEDOUT); });
            deadline->start(AttemptMilliseconds);
            Running.push_back({s, address, std::move(deadline)});
            return true;
        }
    }
    Fail(step, Sockets.WSAGetLastError());
    Sockets.closesocket(s);
    return false;
}

void TConnectAttempts::Fail(TStep step, int error)
{
    FailedStep = step;
    FailedError = error;
}

void TConnectAttempts::Failed(TSocket s, int error)
{
    const auto it = std::find_if(Running.begin(), Running.end(), [s](const TAttempt& a) { return a.Sock == s; });
    if (it == Running.end())
        return;
    const bool newest = it + 1 == Running.end();
    Sockets.closesocket(s);
    Running.erase(it);  // its timer may be the caller: Qt lets a timer go inside its own timeout
    Fail(asConnect, error);
    if (newest) {
        Stagger.stop();
        StartNext();
    }
    if (Running.empty() && OnLost)
        std::exchange(OnLost, nullptr)(FailedStep, FailedError);
}

void TConnectAttempts::Won(TSocket s)
{
    const auto it = std::find_if(Running.begin(), Running.end(), [s](const TAttempt& a) { return a.Sock == s; });
    if (it == Running.end())
        return;
    const TSocketAddress address = it->Address;
    Running.erase(it);
    CloseAll();
    Sockets.AsyncSelect(s, this, 0);
    if (OnWon)
        std::exchange(OnWon, nullptr)(s, address);
}

void TConnectAttempts::CloseAll()
{
    Stagger.stop();
    Waiting.clear();
    for (const TAttempt& attempt : Running)
        Sockets.closesocket(attempt.Sock);
    Running.clear();
}
