#pragma once

#include "engine/Engine.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

// Runs the engine's search on a thread of its own, so the event loop keeps handling the
// connection while the computer thinks. One search at a time; its move comes back through
// the event loop, and an abandoned search comes back with no move.
class TThinker : public QObject
{
    Q_OBJECT

public:
    TThinker(TLevel level, const TOpeningBook& book, std::uint64_t seed, QObject* parent = nullptr);
    ~TThinker() override;  // stops a running search and waits for it
    TThinker(const TThinker&) = delete;
    TThinker& operator=(const TThinker&) = delete;

    bool IsBusy() const { return Busy; }
    // Only while idle. Finished follows through the event loop.
    void Start(const TPosition& position);
    // The running search ends early and reports no move.
    void Abandon();

signals:
    // A column 0..6, or -1 for an abandoned search or a full board.
    void Finished(int column);

private:
    void Done(int column);

    std::unique_ptr<TEngine> Engine;  // the worker's alone while Busy
    std::atomic<bool> Stop{false};
    std::thread Worker;
    bool Busy = false;
};
