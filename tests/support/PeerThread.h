#pragma once

#include "support/RawPeer.h"

#include <atomic>
#include <functional>
#include <thread>

// Runs a script against a raw peer on a thread of its own, so the peer can block on a full
// connection while the program under test keeps turning its event loop on the main thread.
// The peer belongs to the script until it has finished.
class TPeerThread
{
public:
    using TScript = std::function<bool(TRawPeer&)>;  // true when every step went through

    TPeerThread(TRawPeer peer, TScript script);
    ~TPeerThread();  // waits for the script
    TPeerThread(const TPeerThread&) = delete;
    TPeerThread& operator=(const TPeerThread&) = delete;

    bool Finished() const { return Done.load(std::memory_order_acquire); }
    bool Succeeded() const { return Finished() && Ok; }
    TRawPeer& Peer();  // waits for the script first

private:
    TRawPeer Far;
    bool Ok = false;
    std::atomic<bool> Done{false};
    std::thread Thread;
};
