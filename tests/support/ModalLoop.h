#pragma once

#include <functional>

// Runs a nested event loop, as a modal box does, until done() holds or the time is up.
// Returns done(). Deferred deletions and posted events behave as under a real box.
bool RunModalUntil(const std::function<bool()>& done, int timeoutMs = 20000);
