#pragma once

#include <html/htmllinks.h>
#include <net/redirectkind.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace skarnel {

// A page that loads as an HTML document in the background.
//
// Contract with the callers (the crawl and the referring-page search):
// - The document makes progress only while the UI thread runs its event loop, and every
//   change of its ready state is caused by an event delivered on the UI thread. A caller may
//   therefore sleep in the event loop until the next event and read readyState() again.
// - readyState() reads "loading" until the document is done, then "complete" for good.
// - links() lists the address of every `a` and `area` element that has an `href`, in document
//   order, each resolved to the absolute form a browser reports for `href`. While the document
//   is still loading it lists what has been read so far (possibly nothing).
// - Destroying a document that is still loading abandons the load and closes its connection.
class HtmlDocument
{
public:
    virtual ~HtmlDocument() = default;

    virtual QString readyState() const = 0;
    virtual QStringList links() const = 0;
    // Every address the page names, links and (when the document was asked for them) the
    // resources a browser would fetch, each with its kind, in document order.
    virtual QList<FoundLink> foundLinks() const
    {
        QList<FoundLink> found;
        for (const QString &address : links())
            found.append({address, ResourceKind::Page});
        return found;
    }
    // When the document was asked for them, the names a #fragment can point at in the page (the
    // `id` of any element, the `name` of an `a`); nothing when they were not read: the page did not
    // answer 2xx with HTML, or could not be read within its limits.
    virtual std::optional<QStringList> anchors() const { return std::nullopt; }
    // The address of the page's final answer, after redirects, without user name and password;
    // before an answer, the address being asked for. Empty from documents that cannot tell.
    virtual QString finalAddress() const { return {}; }
    // What the first answer was: the page itself or a redirect, and of which kind.
    virtual RedirectKind redirectKind() const { return RedirectKind::None; }
};

class HtmlDocumentService
{
public:
    virtual ~HtmlDocumentService() = default;

    // Starts loading the page at `address`, used exactly as given. Never returns null: an
    // address that cannot be loaded gives a document that completes with no links.
    virtual std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) = 0;
    // The same, reading what `options` ask for besides the links. A service that reads links only
    // gives a document of links.
    virtual std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address,
                                                                PageReadOptions)
    {
        return createDocumentFromUrl(address);
    }
    // A walk begins: what was learnt of dead hosts before is forgotten.
    virtual void startRun() { }
};

inline const QString ReadyStateComplete = QStringLiteral("complete");
inline const QString ReadyStateLoading = QStringLiteral("loading");

} // namespace skarnel
