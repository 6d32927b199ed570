#pragma once

#include <functional>

namespace skarnel {

class StopFlag;

// The ways a long command hands control back to the window.

// Runs every pending event to its end, then returns. Commands given meanwhile run inside it.
void yieldToEventLoop();

// Sleeps until at least one event arrives, runs the pending events, then returns. A wait built on
// it uses no CPU while nothing happens.
void sleepUntilNextEvent();

// Sleeps in the event loop until `done` answers true or a stop is requested, whichever comes
// first, and returns what `done` answers then. `done` is asked before each sleep.
bool waitUntilDoneOrStopped(const std::function<bool()> &done, const StopFlag &stop);

} // namespace skarnel
