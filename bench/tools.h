#pragma once

#include <string>
#include <vector>

// Another program run to its end, timed from the outside.
struct ToolRun
{
    bool started = false;
    int exitCode = -1; // the exit status, or 128 + the signal that ended it
    double wallSeconds = 0;
    double cpuSeconds = 0; // user + system time of the program and its children
    double peakRssMb = 0;  // the largest resident memory of the program or one of its children
};

// Runs `command` (looked up on PATH) in `directory`, its standard output and error written to
// `outputFile`, and waits for it. A program still running after `limitSeconds` is killed.
ToolRun runTool(const std::vector<std::string> &command, const std::string &directory,
                const std::string &outputFile, int limitSeconds);

bool toolInstalled(const std::string &name);
