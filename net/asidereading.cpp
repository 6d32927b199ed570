#include "asidereading.h"

#include <net/pagedownload.h>

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <mutex>

namespace skarnel {

// What the reading and its worker share.
struct AsideReading::Shared
{
    // Set when the reading is gone: a reading not begun is skipped, one under way stops soon.
    std::atomic<bool> abandoned = false;
    std::mutex mutex;
    // The reading's receiver; null once the reading is gone, and nothing is to be told.
    QObject *receiver = nullptr;
    PageReading result;
};

namespace {

const QEvent::Type ReadEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Lives on the reading's thread; the worker posts it one event when the page is read.
class ReadReceiver final : public QObject
{
public:
    explicit ReadReceiver(bool &done)
        : done(done)
    {
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != ReadEvent)
            return QObject::event(event);
        done = true;
        return true;
    }

private:
    bool &done;
};

// The threads that read the pages, as many as there are cores: the pages loaded ahead are read
// side by side. Their parses share one memory budget (see readPage()), so that pages read together
// take no more memory than one could.
class PageReaders final : public QThreadPool
{
public:
    PageReaders() { setMaxThreadCount(QThread::idealThreadCount()); }
};

} // namespace

QThreadPool &pageReaders()
{
    static PageReaders readers;
    return readers;
}

AsideReading::AsideReading()
    : shared(std::make_shared<Shared>())
    , receiver(std::make_unique<ReadReceiver>(done))
{
    shared->receiver = receiver.get();
}

AsideReading::~AsideReading()
{
    // A worker still reading finds no receiver and tells nobody; an event already posted goes
    // with the receiver.
    shared->abandoned = true;
    const std::lock_guard lock(shared->mutex);
    shared->receiver = nullptr;
}

void AsideReading::start(const PageDownload &download, PageReadOptions options)
{
    // The copies share their data with the download, which never changes it again.
    pageReaders().start([shared = shared, body = download.body(), type = download.contentType(),
                         address = download.finalAddress(), options] {
        if (shared->abandoned)
            return;
        PageReading read =
                readPage(body, type, address, options, defaultParseBudget, &shared->abandoned);
        const std::lock_guard lock(shared->mutex);
        shared->result = std::move(read);
        if (shared->receiver)
            QCoreApplication::postEvent(shared->receiver, new QEvent(ReadEvent));
    });
}

PageReading AsideReading::result() const
{
    if (!done)
        return {};
    const std::lock_guard lock(shared->mutex);
    return shared->result;
}

} // namespace skarnel
