#pragma once

#include <QtGlobal>

#include <chrono>

namespace skarnel {

// The bounds of one load or fetch, whatever the server does: it ends within `time`, redirects
// included, and reads at most `bodyCap` bytes of body, after decompression.
struct FetchLimits
{
    std::chrono::milliseconds time = std::chrono::seconds(60);
    qint64 bodyCap = 16 * 1024 * 1024;
    // Redirects followed at most; one more fails the fetch, "too many redirects".
    int redirects = 20;
};

} // namespace skarnel
