#include "networkhtmldocument.h"

#include <html/htmllinks.h>
#include <net/pagedownload.h>

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <mutex>

namespace skarnel {

// What the document and the worker reading its links share.
struct NetworkHtmlDocument::Reading
{
    // Set when the document is gone: a reading not begun is skipped, one under way stops soon.
    std::atomic<bool> abandoned = false;
    std::mutex mutex;
    // The document's receiver; null once the document is gone, and nothing is to be told.
    QObject *receiver = nullptr;
    QStringList links;
};

namespace {

const QEvent::Type LinksReadEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Lives on the document's thread; the worker posts it one event when the links are read.
class LinksReadReceiver final : public QObject
{
public:
    explicit LinksReadReceiver(bool &linksRead)
        : linksRead(linksRead)
    {
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != LinksReadEvent)
            return QObject::event(event);
        linksRead = true;
        return true;
    }

private:
    bool &linksRead;
};

// The threads that read the pages' links, as many as there are cores: the pages loaded ahead are
// read side by side. Their parses share one memory budget (see readLinks()), so that pages read
// together take no more memory than one could.
class LinkReader final : public QThreadPool
{
public:
    LinkReader() { setMaxThreadCount(QThread::idealThreadCount()); }
};

QThreadPool &linkReader()
{
    static LinkReader reader;
    return reader;
}

bool hasBodyToRead(PageDownload::Outcome outcome)
{
    switch (outcome) {
    case PageDownload::Outcome::Complete:
    case PageDownload::Outcome::Capped:
    case PageDownload::Outcome::TimedOut:
        return true;
    case PageDownload::Outcome::Running:
    case PageDownload::Outcome::NotHtml:
    case PageDownload::Outcome::Failed:
        return false;
    }
    return false;
}

} // namespace

NetworkHtmlDocument::NetworkHtmlDocument(std::unique_ptr<PageDownload> pageDownload)
    : download(std::move(pageDownload))
    , reading(std::make_shared<Reading>())
    , receiver(std::make_unique<LinksReadReceiver>(linksRead))
{
    reading->receiver = receiver.get();
    // The download is the connection's context: it goes with the document.
    QObject::connect(download.get(), &PageDownload::ended, download.get(),
                     [this] { readLinksAside(); });
}

NetworkHtmlDocument::~NetworkHtmlDocument()
{
    // A worker still reading finds no receiver and tells nobody; an event already posted goes
    // with the receiver.
    reading->abandoned = true;
    const std::lock_guard lock(reading->mutex);
    reading->receiver = nullptr;
}

void NetworkHtmlDocument::readLinksAside()
{
    if (!hasBodyToRead(download->outcome()))
        return;
    // The copies share their data with the download, which never changes it again.
    linkReader().start([reading = reading, body = download->body(), type = download->contentType(),
                        address = download->finalAddress()] {
        if (reading->abandoned)
            return;
        QStringList links = readLinks(body, type, address, defaultParseBudget, &reading->abandoned);
        const std::lock_guard lock(reading->mutex);
        reading->links = std::move(links);
        if (reading->receiver)
            QCoreApplication::postEvent(reading->receiver, new QEvent(LinksReadEvent));
    });
}

QString NetworkHtmlDocument::readyState() const
{
    const PageDownload::Outcome outcome = download->outcome();
    if (outcome == PageDownload::Outcome::Running || (hasBodyToRead(outcome) && !linksRead))
        return ReadyStateLoading;
    return ReadyStateComplete;
}

QString NetworkHtmlDocument::finalAddress() const
{
    return download->finalAddress().toString(QUrl::FullyEncoded);
}

RedirectKind NetworkHtmlDocument::redirectKind() const
{
    return download->redirectKind();
}

QStringList NetworkHtmlDocument::links() const
{
    if (!linksRead)
        return {};
    const std::lock_guard lock(reading->mutex);
    return reading->links;
}

} // namespace skarnel
