#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <functional>

// Every time bound in the tests is a hang detector, never a speed target: a wait that runs out only
// when the program is stuck. Each is written as what would do on an idle machine with an optimised
// build and scaled by hangBoundFactor(): twice that, since the tests share the machine with builds
// and benchmarks; four times under AddressSanitizer; or SKARNEL_TEST_TIME_FACTOR when it is set. A
// bound set against one of the program's own time limits stays below that limit once scaled, or the
// test scales the limit with it.

#if defined(__SANITIZE_ADDRESS__)
#  define SKARNEL_TEST_SANITIZED 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define SKARNEL_TEST_SANITIZED 1
#  endif
#endif

inline double hangBoundFactor()
{
    static const double factor = [] {
        bool ok = false;
        const double asked = qEnvironmentVariable("SKARNEL_TEST_TIME_FACTOR").toDouble(&ok);
        if (ok && asked > 0 && std::isfinite(asked))
            return asked;
#ifdef SKARNEL_TEST_SANITIZED
        return 4.0;
#else
        return 2.0;
#endif
    }();
    return factor;
}

inline std::chrono::milliseconds hangBound(std::chrono::milliseconds idle)
{
    return std::chrono::milliseconds(qint64(std::ceil(double(idle.count()) * hangBoundFactor())));
}

// The same in milliseconds, as QTRY_*_WITH_TIMEOUT and QElapsedTimer take them.
inline int hangBoundMs(std::chrono::milliseconds idle)
{
    return int(hangBound(idle).count());
}

// Sleeps in the event loop as the program's commands do, woken only by events, until `done` holds
// or hangBound(`idle`) has passed; returns whether it holds. What changes without an event leaves
// it asleep until then.
inline bool sleepUntil(const std::function<bool()> &done,
                       std::chrono::milliseconds idle = std::chrono::seconds(10))
{
    const auto limit = hangBound(idle);
    const QDeadlineTimer deadline(limit);
    QTimer alarm;
    alarm.start(limit);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}
