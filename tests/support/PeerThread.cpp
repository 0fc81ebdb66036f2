#include "support/PeerThread.h"

#include <utility>

TPeerThread::TPeerThread(TRawPeer peer, TScript script)
    : Far(std::move(peer))
    , Thread([this, script = std::move(script)] {
        Ok = script(Far);
        Done.store(true, std::memory_order_release);
    })
{
}

TPeerThread::~TPeerThread()
{
    if (Thread.joinable())
        Thread.join();
}

TRawPeer& TPeerThread::Peer()
{
    if (Thread.joinable())
        Thread.join();
    return Far;
}
