#pragma once

#include <net/redirectkind.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace skarnel {

// One fetch of a page's raw text.
//
// Contract with the broken-link check:
// - The fetch makes progress only while the UI thread runs its event loop, and it finishes
//   through an event delivered on the UI thread, so the caller may sleep in the event loop
//   until the next event and ask again.
// - It finishes with the whole body, whatever the HTTP status, or fails: a malformed or empty
//   address, another scheme than http and https, an unknown host, a refused or broken
//   connection, or no complete body within the time limit (60 seconds in all).
// - A finished fetch tells the HTTP status of the final answer, after redirects, and a failed one
//   tells why, in words a user reads ("host not found").
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
    // The status of the final answer and its reason phrase ("Not Found"); 0 and empty when no
    // answer arrived.
    virtual int httpStatus() const = 0;
    virtual QString statusText() const = 0;
    // Why the fetch failed ("connection refused"); empty unless it failed.
    virtual QString failureReason() const = 0;
    // The address of the final answer, after redirects, without user name and password; before
    // an answer, the address being asked for. Empty from fetches that cannot tell.
    virtual QString finalAddress() const { return {}; }
    // What the first answer was: the page itself or a redirect, and of which kind.
    virtual RedirectKind redirectKind() const { return RedirectKind::None; }
    // With FetchMode::TextAndAnchors, the names a #fragment can point at in the page (the `id` of
    // any element, the `name` of an `a`); nothing when they were not read: the page did not answer
    // 2xx with HTML, or could not be read within its limits. The fetch finishes once they are read.
    virtual std::optional<QStringList> anchors() const { return std::nullopt; }
};

enum class FetchMode {
    // The whole body, as text.
    Text,
    // The whole body, as text, and the page's anchors, read aside.
    TextAndAnchors,
    // The answer alone: its status and where it led. The body is never downloaded and text() is
    // empty; a server that does not answer HEAD (405, 501) is asked once with a GET that ends
    // after its headers.
    HeadersOnly,
};

class InternetTransfer
{
public:
    virtual ~InternetTransfer() = default;

    // Starts fetching the page at `address`, used exactly as given. Never returns null.
    virtual std::unique_ptr<PageFetch> openUrl(const QString &address) = 0;
    // The same in `mode`. A transfer that cannot fetch the headers alone fetches the text.
    virtual std::unique_ptr<PageFetch> openUrl(const QString &address, FetchMode)
    {
        return openUrl(address);
    }
    // A check begins: what was learnt of dead hosts before is forgotten.
    virtual void startRun() { }
};

} // namespace skarnel
