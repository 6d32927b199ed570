#pragma once

#include <html/htmllinks.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <kinds/redirectkind.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace skarnel {

// How much of an address a load reads: what each command needs of it.
enum class LoadMode {
    // The page, for the crawl and the search: its answer whatever the status, its body when it is
    // HTML (a body of another type is not downloaded), and the links read from it, with the
    // resources and anchors LoadRequest::reading asks for.
    Page,
    // The whole body as text, whatever its type, for the check.
    Text,
    // The same, and the page's anchors.
    TextAndAnchors,
    // The answer alone: its status and where it led. The body is never downloaded; a server that
    // does not answer HEAD (405, 501) is asked once with a GET that ends after its headers.
    HeadersOnly,
    // The body as it came, not decoded, whatever its type, within LoadRequest::bodyCap: a
    // robots.txt, a sitemap.
    Bytes,
};

struct LoadRequest
{
    LoadMode mode = LoadMode::Text;
    // With LoadMode::Page, what is read besides the links.
    PageReadOptions reading = {};
    // Whether an answer of 429 or 503 that asks to be tried again within the network's retry cap
    // is asked once more after that wait. Always so but in LoadMode::Page, where the crawl reads
    // the links of whatever page comes back unless this asks it to wait.
    bool waitOutBusy = false;
    // With LoadMode::Bytes, the most body read; 0: the loader's own cap.
    qint64 bodyCap = 0;
    // With LoadMode::Bytes, the most redirects followed; 0: the loader's own limit.
    int redirectCap = 0;
    // With LoadMode::Bytes, where the body goes as it arrives, so that it is never held whole:
    // called on the UI thread with each piece in order, within bodyCap and the time limit, before
    // the load is done (httpStatus() tells whose answer the piece is of). Returning false ends the
    // download there: the load ends Complete with what was given. PageLoad::body() is then empty.
    // A loader that cannot stream leaves it uncalled and keeps the body for body(), as without it:
    // the caller then gives that body in one piece.
    std::function<bool(QByteArrayView)> onBody = nullptr;
};

// How a load ended.
enum class LoadOutcome {
    Running,
    // The whole answer was read, whatever the HTTP status (HeadersOnly: its headers).
    Complete,
    // The body reached the size cap: its start was read.
    Capped,
    // The time limit ran out: the body holds what had arrived.
    TimedOut,
    // LoadMode::Page, and the answer was of another type than HTML: its body was not read.
    NotHtml,
    // No answer: a malformed or empty address, another scheme than http and https, an unknown
    // host, a refused or broken connection, a bad redirect, a TLS failure.
    Failed,
};

// Whether a load that ended so, with this status, holds the whole of a page that answered 2xx:
// the one kind of page whose anchors are worth telling, as a page cut short would have them
// guessed.
inline bool isWholeSuccess(LoadOutcome outcome, int httpStatus)
{
    return outcome == LoadOutcome::Complete && httpStatus >= 200 && httpStatus <= 299;
}

// One load of an address, in the mode it was asked for.
//
// Contract with its callers (the crawl, the check, the search and the start page's test):
// - The load makes progress only while the UI thread runs its event loop, and every change of
//   isDone() is caused by an event delivered on the UI thread. A caller may therefore sleep in
//   the event loop until the next event and ask again.
// - isDone() is false until the answer has arrived and what the mode reads of it is read, then
//   true for good. A load ends within the network's time limit (60 seconds in all).
// - Destroying a load that is not done abandons it and closes its connection.
class PageLoad
{
public:
    virtual ~PageLoad() = default;

    virtual bool isDone() const = 0;
    // How the load ended; Running until then.
    virtual LoadOutcome outcome() const
    {
        return isDone() ? LoadOutcome::Complete : LoadOutcome::Running;
    }
    // Ended without an answer, or without the whole of it within the time limit.
    virtual bool failed() const
    {
        const LoadOutcome ended = outcome();
        return ended == LoadOutcome::Failed || ended == LoadOutcome::TimedOut;
    }
    // The body decoded to text (byte order mark, charset of the Content-Type, <meta> charset,
    // else UTF-8), as far as it was read; empty unless done and not failed, and in HeadersOnly.
    virtual QString text() const = 0;
    // The status of the final answer, after redirects, and its reason phrase ("Not Found"); 0 and
    // empty when no answer arrived.
    virtual int httpStatus() const = 0;
    virtual QString statusText() const { return {}; }
    // Why the load failed, in words a user reads ("host not found"); empty unless it failed.
    virtual QString failureReason() const { return {}; }
    // The address of the final answer, after redirects, without user name and password; before
    // an answer, the address being asked for. Empty from loads that cannot tell.
    virtual QString finalAddress() const { return {}; }
    // What the first answer was: the page itself or a redirect, and of which kind.
    virtual RedirectKind redirectKind() const { return RedirectKind::None; }

    // LoadMode::Page: every address the page names, the links of `a` and `area` and, when asked
    // for, the resources a browser would fetch, each with its kind, in document order, each
    // resolved to the absolute form a browser reports. Until done, and for a page that could not
    // be read within its limits, nothing.
    virtual QList<FoundLink> foundLinks() const = 0;
    // The addresses of the links alone (kind Page), in document order.
    QStringList links() const
    {
        QStringList pages;
        for (const FoundLink &link : foundLinks())
            if (link.kind == AddressKind::Page)
                pages.append(link.address);
        return pages;
    }
    // When they were asked for (LoadMode::TextAndAnchors, or reading.anchors), the names a
    // #fragment can point at in the page (the `id` of any element, the `name` of an `a`); nothing
    // when they were not read: the page is not a whole 2xx answer read as HTML
    // (isWholeSuccess()), or could not be read within its limits.
    virtual std::optional<QStringList> anchors() const { return std::nullopt; }
    // LoadMode::Bytes: the body as it came, as far as it was read; empty until done, and when
    // LoadRequest::onBody took it.
    virtual QByteArray body() const { return {}; }
    // The address was not asked for: the origin's robots.txt forbids it (failureReason() says so).
    // The address is listed, not checked.
    virtual bool keptOut() const { return false; }
};

// Where the walks load addresses from.
class PageLoader
{
public:
    virtual ~PageLoader() = default;

    // Starts loading `address`, used exactly as given. Never returns null: an address that cannot
    // be loaded gives a load that ends failed, with no links.
    virtual std::unique_ptr<PageLoad> load(const QString &address, const LoadRequest &request) = 0;
    // A walk begins: what was learnt of dead hosts before is forgotten.
    virtual void startRun() { }
    // From now on, requests to `host` start at least `pause` apart, whatever the policy's pause is
    // less than that (an origin's robots.txt asks so); zero goes back to the policy's alone.
    virtual void setLeastPause(const QString &host, std::chrono::milliseconds pause)
    {
        Q_UNUSED(host);
        Q_UNUSED(pause);
    }
};

} // namespace skarnel
