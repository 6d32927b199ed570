#pragma once

// The two ways a long command hands control back to the window.

// Runs every pending event to its end, then returns. Commands given meanwhile run inside it.
void yieldToEventLoop();

// Sleeps until at least one event arrives, runs the pending events, then returns. A wait built on
// it uses no CPU while nothing happens.
void sleepUntilNextEvent();
