#pragma once

#include "support/RawPeer.h"

#include <atomic>
#include <functional>
#include <thread>

// Runs a script against a raw peer on a thread of its own, so the peer can block on a full
// connection while the program under test turns its event loop on the main thread. The peer
// belongs to the script until it has finished.
class TPeerThread
{
public:
    using TScript = std::function<bool(TRawPeer&)>;  // true when every step went through

    TPeerThread(TRawPeer peer, TScript script)
        : Far(std::move(peer)), Thread([this, script] { Ok = script(Far), Done = true; }) {}
    ~TPeerThread() { Peer(); }

    bool Finished() const { return Done; }
    bool Succeeded() const { return Done && Ok; }
    TRawPeer& Peer()  // waits for the script first
    {
        if (Thread.joinable())
            Thread.join();
        return Far;
    }

private:
    TRawPeer Far;
    bool Ok = false;
    std::atomic<bool> Done{false};
    std::thread Thread;
};
