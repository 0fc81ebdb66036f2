// Time to connect to a name whose first address (::1, a listener whose backlog is full, so its
// handshake is never answered) does not answer and whose second (127.0.0.1) does: one real
// session listens, another connects over an injected address list.
// Usage: bench_connect [give-up seconds, default 30; the kernel alone takes over two minutes]

#include "net/Resolver.h"
#include "session/Session.h"
#include "support/FakeWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Listens on [::1]:port with room for one waiting connection, and fills it: further SYNs are dropped.
bool OpenUnanswering(std::uint16_t port, int fds[2])
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    const int on = 1;
    fds[0] = ::socket(AF_INET6, SOCK_STREAM, 0);
    fds[1] = ::socket(AF_INET6, SOCK_STREAM, 0);
    ::setsockopt(fds[0], IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    return ::bind(fds[0], raw, sizeof address) == 0 && ::listen(fds[0], 0) == 0
        && ::connect(fds[1], raw, sizeof address) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int giveUpSeconds = argc > 1 ? std::atoi(argv[1]) : 30;

    TFakeWindow bobWindow, aliceWindow;
    const QList<TSocketAddress> addresses{*TResolver::AddressLiteral(QStringLiteral("::1")),
                                          *TResolver::AddressLiteral(QStringLiteral("127.0.0.1"))};
    // Bob on 127.0.0.1 only, so [::1] at the same port is free.
    TSession bob(bobWindow, {.Connection = {.LoopbackOnly = true}});
    TSession alice(aliceWindow, {.Connection = {.LookUpHost = [addresses](const QString&, int*) { return addresses; }}});
    bob.Match.LocalName = QStringLiteral("Bob");
    alice.Match.LocalName = QStringLiteral("Alice");
    bob.Listen(QStringLiteral("0"));
    const std::uint16_t port = bob.LocalPort();
    int unanswering[2] = {-1, -1};
    if (port == 0 || !OpenUnanswering(port, unanswering)) {
        std::fprintf(stderr, "bench_connect: cannot set up the listeners\n");
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    alice.Connect(QStringLiteral("jeu.test"), QString::number(port));
    QEventLoop loop;
    QTimer poll;
    poll.callOnTimeout([&] {
        if (alice.State() == csConnected || !aliceWindow.Boxes.isEmpty()
            || clock.elapsed() > giveUpSeconds * 1000LL)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (alice.State() == csConnected) {
        std::printf("connected to %s after %.3f s\n", qPrintable(alice.PeerAddress()), seconds);
        std::printf("target: %-48s %-34s %s\n", "connect past an unanswering first address < 1 s",
                    qPrintable(QStringLiteral("%1 s").arg(seconds, 0, 'f', 3)), seconds < 1.0 ? "PASS" : "ABOVE");
    }
    else if (!aliceWindow.Boxes.isEmpty())
        std::printf("failed after %.3f s: %s\n", seconds, qPrintable(aliceWindow.Boxes.first().Text));
    else
        std::printf("not connected after %.3f s (gave up)\n", seconds);
    ::close(unanswering[0]);
    ::close(unanswering[1]);
    return alice.State() == csConnected ? 0 : 1;
}
