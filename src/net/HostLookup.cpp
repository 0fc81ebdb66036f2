#include "net/HostLookup.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

namespace {

std::atomic<int> RunningLookups{0};

}  // namespace

// What the thread and its owner share. Done is touched on the owner's thread only; the
// thread posts the answer only while the owner still wants it, so never to a finished
// application.
struct THostLookup::TShared
{
    std::mutex Mutex;
    bool Abandoned = false;
    QObject* Application = nullptr;
    TDone Done;
};

THostLookup::THostLookup(TResolve resolve, const QString& name, TDone done)
    : Shared(std::make_shared<TShared>())
{
    Shared->Application = QCoreApplication::instance();
    Shared->Done = std::move(done);
    ++RunningLookups;
    std::thread([shared = Shared, resolve = std::move(resolve), name] {
        int error = 0;
        const QList<TSocketAddress> addresses = resolve(name, &error);
        {
            const std::lock_guard lock(shared->Mutex);
            if (!shared->Abandoned && shared->Application) {
                QMetaObject::invokeMethod(
                    shared->Application,
                    [shared, addresses, error] {
                        // Taken out first: the answer may destroy its lookup.
                        if (TDone done = std::exchange(shared->Done, nullptr))
                            done(addresses, error);
                    },
                    Qt::QueuedConnection);
            }
        }
        --RunningLookups;
    }).detach();
}

THostLookup::~THostLookup()
{
    const std::lock_guard lock(Shared->Mutex);
    Shared->Abandoned = true;
    Shared->Done = nullptr;
}

int THostLookup::Running()
{
    return RunningLookups.load();
}
