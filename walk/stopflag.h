#pragma once

namespace skarnel {

// The one coordination between a running command and the commands given inside it: Force Stop,
// New and Exit request a stop, and the crawl, the check and the search end at their next test of
// it. A command clears it when it starts.
class StopFlag final
{
public:
    void request() { requested = true; }
    void clear() { requested = false; }
    bool isRequested() const { return requested; }

private:
    bool requested = false;
};

} // namespace skarnel
