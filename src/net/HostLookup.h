#pragma once

#include "net/Resolver.h"
#include "net/SocketAddress.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// One name lookup on a thread of its own, so the window never waits for the resolver. The
// answer comes back through the application's event loop, on its thread. Destroying the
// lookup abandons it, even from inside its own answer: its thread ends by itself when the
// resolver returns, and the answer is dropped. Nothing the thread uses belongs to anyone else.
class THostLookup
{
public:
    // Runs on the lookup's thread; on failure it sets *wsaError and returns no address.
    using TResolve = std::function<QList<TSocketAddress>(const QString& name, int* wsaError)>;
    using TDone = std::function<void(const QList<TSocketAddress>& addresses, int wsaError)>;

    THostLookup(TResolve resolve, const QString& name, TDone done);
    // The same for the official name and IPv4 addresses of a name, as gethostbyname gives them.
    using TResolveEntry = std::function<std::optional<THostEntry>(const QString& name)>;
    using TEntryDone = std::function<void(const std::optional<THostEntry>& entry)>;
    THostLookup(TResolveEntry resolve, const QString& name, TEntryDone done);
    ~THostLookup();
    THostLookup(const THostLookup&) = delete;
    THostLookup& operator=(const THostLookup&) = delete;

    // Lookup threads of the process still running, abandoned ones included.
    static int Running();

private:
    struct TAnswer;
    struct TShared;
    THostLookup(std::function<TAnswer()> work, std::function<void(const TAnswer&)> done);

    std::shared_ptr<TShared> Shared;
};
