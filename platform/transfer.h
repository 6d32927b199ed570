#pragma once

#include <QString>

#include <memory>

// One fetch of a page's raw text.
//
// Contract with the broken-link check:
// - The fetch makes progress only while the UI thread runs its event loop, and it finishes
//   through an event delivered on the UI thread, so the caller may sleep in the event loop
//   until the next event and ask again.
// - It finishes with the whole body, whatever the HTTP status, or fails: a malformed or empty
//   address, another scheme than http and https, an unknown host, a refused or broken
//   connection, or no complete body within the time limit (60 seconds in all).
// - Destroying an unfinished fetch aborts it and closes its connection.
class PageFetch
{
public:
    virtual ~PageFetch() = default;

    virtual bool isFinished() const = 0;
    // Finished without a complete body.
    virtual bool failed() const = 0;
    // The body decoded to text; empty unless finished and not failed.
    virtual QString text() const = 0;
};

class InternetTransfer
{
public:
    virtual ~InternetTransfer() = default;

    // Starts fetching the page at `address`, used exactly as given. Never returns null.
    virtual std::unique_ptr<PageFetch> openUrl(const QString &address) = 0;
};
