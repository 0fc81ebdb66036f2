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

struct THostLookup::TAnswer
{
    QList<TSocketAddress> Addresses;
    int Error = 0;
    std::optional<THostEntry> Entry;
};

// What the thread and its owner share. Done is touched on the owner's thread only; the
// thread posts the answer only while the owner still wants it, so never to a finished
// application.
struct THostLookup::TShared
{
    std::mutex Mutex;
    bool Abandoned = false;
    QObject* Application = nullptr;
    std::function<void(const TAnswer&)> Done;
};

THostLookup::THostLookup(TResolve resolve, const QString& name, TDone done)
    : THostLookup(
        [resolve = std::move(resolve), name] {
            TAnswer answer;
            answer.Addresses = resolve(name, &answer.Error);
            return answer;
        },
        [done = std::move(done)](const TAnswer& answer) { done(answer.Addresses, answer.Error); })
{
}

THostLookup::THostLookup(TResolveEntry resolve, const QString& name, TEntryDone done)
    : THostLookup([resolve = std::move(resolve), name] { return TAnswer{{}, 0, resolve(name)}; },
                  [done = std::move(done)](const TAnswer& answer) { done(answer.Entry); })
{
}

THostLookup::THostLookup(std::function<TAnswer()> work, std::function<void(const TAnswer&)> done)
    : Shared(std::make_shared<TShared>())
{
    Shared->Application = QCoreApplication::instance();
    Shared->Done = std::move(done);
    ++RunningLookups;
    std::thread([shared = Shared, work = std::move(work)] {
        const TAnswer answer = work();
        {
            const std::lock_guard lock(shared->Mutex);
            if (!shared->Abandoned && shared->Application) {
                QMetaObject::invokeMethod(
                    shared->Application,
                    [shared, answer] {
                        // Taken out first: the answer may destroy its lookup.
                        if (auto done = std::exchange(shared->Done, nullptr))
                            done(answer);
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
