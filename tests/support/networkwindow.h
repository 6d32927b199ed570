#pragma once

#include "loopbackclient.h"
#include "windowharness.h"

#include <app/mainwindow.h>
#include <net/networkservices.h>
#include <widgets/listbox.h>
#include <widgets/multilinetextbox.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>

#include <malloc.h>

#include <chrono>
#include <functional>

using namespace skarnel;

// The real window over the real network services, sharing one client as the program's do, each
// load and fetch held to the limits. Only loopback hosts resolve.
struct NetworkWindow : WindowControls<NetworkWindow>
{
    explicit NetworkWindow(FetchLimits limits = {})
        : network(client, limits)
    {
        window.useNetworkPolicy([this](const NetworkPolicy &policy) { network.setPolicy(policy); });
    }
    NetworkWindow(std::chrono::milliseconds limit, qint64 bodyCap = FetchLimits {}.bodyCap)
        : NetworkWindow(FetchLimits {limit, bodyCap})
    {
    }

    std::shared_ptr<HttpClient> client = loopbackOnlyClient();
    NetworkServices network;
    RecordingShell shell;
    MainWindow window {network, network, shell};
};

// A page of text whose links are `hrefs`, one a paragraph.
inline QByteArray linksPage(const QStringList &hrefs, const QByteArray &text = "All is well here.")
{
    QByteArray html = "<!doctype html><title>page</title><body><p>" + text + "</p>";
    for (const QString &href : hrefs)
        html += "<p><a href=\"" + href.toUtf8() + "\">link</a></p>";
    return html;
}

// Starts measuring the peak afresh: memory the heap kept from earlier tests is given back to the
// system, and the peak (VmHWM) is set to what is resident now.
inline void resetPeakResident()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The most memory the test program has held resident since it started or since the last
// resetPeakResident(), in bytes (VmHWM).
inline qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// Whether resident memory means what the program holds: AddressSanitizer keeps freed memory in
// quarantine and adds its shadow, so under it the figures are only shown.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool residentMemoryIsTheProgramsOwn = false;
#else
inline constexpr bool residentMemoryIsTheProgramsOwn = true;
#endif

// How a command ended after it was interrupted.
struct InterruptedRun
{
    bool happened = false;
    // From the interruption to the command's return.
    qint64 toReturnMs = -1;
};

// Runs `command`; while it runs, `interrupt` is called once, from the event loop the command
// sleeps in, as soon as `ready` holds (tested every 10 ms). Returns when the command returns.
inline InterruptedRun interruptWhen(const std::function<bool()> &ready,
                                    const std::function<void()> &interrupt,
                                    const std::function<void()> &command)
{
    InterruptedRun result;
    QElapsedTimer sinceInterrupt;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (result.happened || !ready())
            return;
        result.happened = true;
        watch.stop();
        sinceInterrupt.start();
        interrupt();
    });
    watch.start();
    command();
    watch.stop();
    if (result.happened)
        result.toReturnMs = sinceInterrupt.elapsed();
    return result;
}
