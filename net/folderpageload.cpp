#include "folderpageload.h"

#include <html/htmldecoding.h>
#include <net/asidereading.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>

namespace skarnel {

struct FolderLoader::Shared
{
    std::mutex mutex;
    // Each file read as a page, and the address it was first read under.
    QHash<FileIdentity, QString> readAsPage;
};

namespace {

const QEvent::Type FolderReadEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// What a load of the folder found, filled in on a worker thread.
struct FolderAnswer
{
    LoadOutcome outcome = LoadOutcome::Failed;
    int status = 0;
    QString failure;
    QString finalAddress;
    RedirectKind redirect = RedirectKind::None;
    QByteArray contentType;
    QByteArray body;
    // The file read, for a body given to a sink.
    QString path;
    QList<FoundLink> links;
    std::optional<QStringList> anchors;
};

// What a load and its worker share.
struct FolderTask
{
    // Set when the load is gone: a read not begun is skipped, a parse under way stops soon.
    std::atomic<bool> abandoned = false;
    std::mutex mutex;
    // The load's receiver; null once the load is gone.
    QObject *receiver = nullptr;
    FolderAnswer answer;
};

class DoneReceiver final : public QObject
{
public:
    explicit DoneReceiver(std::function<void()> read)
        : read(std::move(read))
    {
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != FolderReadEvent)
            return QObject::event(event);
        read();
        return true;
    }

private:
    std::function<void()> read;
};

// The size of the pieces a file is given to a sink in.
constexpr qsizetype sinkPiece = 64 * 1024;

// Gives the file `answer` found to `sink` piece by piece, at most `cap` bytes (a file of the cap or
// more is capped, as a download is), until the sink wants no more.
void giveToSink(FolderAnswer &answer, qint64 cap, const std::function<bool(QByteArrayView)> &sink)
{
    const int file = ::open(QFile::encodeName(answer.path).constData(),
                            O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat opened
    {
    };
    // What was opened must still be a regular file: a FIFO or a device is never read.
    if (file < 0 || ::fstat(file, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        if (file >= 0)
            ::close(file);
        answer.outcome = LoadOutcome::Failed;
        answer.failure = QStringLiteral("could not be read");
        return;
    }
    answer.outcome = LoadOutcome::Complete;
    QByteArray buffer(sinkPiece, Qt::Uninitialized);
    qint64 given = 0;
    while (true) {
        const ssize_t got = ::read(file, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            answer.outcome = LoadOutcome::Failed;
            answer.failure = QStringLiteral("could not be read");
            break;
        }
        if (got == 0)
            break;
        const bool over = got >= cap - given;
        const QByteArrayView piece(buffer.constData(), over ? qsizetype(cap - given) : got);
        given += piece.size();
        if (!piece.isEmpty() && !sink(piece))
            break;
        if (over) {
            answer.outcome = LoadOutcome::Capped;
            break;
        }
    }
    ::close(file);
}

bool isServedScheme(const QUrl &address)
{
    return address.scheme() == u"http" || address.scheme() == u"https";
}

// Whether the path of a served address, after the site's own, is one that the folder reads as
// written: no percent-encoding to decode, no empty name and no dot segment to resolve.
bool isPlainPath(QStringView rest)
{
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != u'?' && rest[end] != u'#')
        ++end;
    const QStringView path = rest.first(end);
    if (path.contains(u'%') || path.contains(u"//"))
        return false;
    for (const QStringView name : path.split(u'/')) {
        if (name == u"." || name == u"..")
            return false;
    }
    return true;
}

// A page's links under the site in their file:// form; the others as they are. Most are plain
// paths under the site's address, whose file:// form is the folder's address and the same path.
QList<FoundLink> shownLinks(const BuiltFolder &folder, QList<FoundLink> links)
{
    const QString servedPrefix = folder.site().toString(QUrl::FullyEncoded);
    const QString shownPrefix = shownAddress(folder, folder.site());
    for (FoundLink &link : links) {
        if (link.address.startsWith(servedPrefix)
            && isPlainPath(QStringView(link.address).sliced(servedPrefix.size()))) {
            link.address = shownPrefix + link.address.sliced(servedPrefix.size());
            continue;
        }
        const QUrl address(link.address);
        if (isServedScheme(address) && folder.contains(address))
            link.address = shownAddress(folder, address);
    }
    return links;
}

// Whether a Page load reads the body of the file `path` names: an HTML file, or a folder, whose
// index is read. Any other file is a page's resource: its existence is what counts.
bool mayBeHtml(const QString &path)
{
    if (path.isEmpty() || hasHtmlSuffix(path))
        return true;
    struct stat found
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &found) == 0 && S_ISDIR(found.st_mode);
}

// Reads `address` from `folder` as `request` asks: on a worker thread.
FolderAnswer readFromFolder(const BuiltFolder &folder, const QString &listed, const QUrl &address,
                            const LoadRequest &request, qint64 bodyCap,
                            FolderLoader::Shared &shared, const std::atomic<bool> &abandoned)
{
    FolderAnswer answer;
    const LoadMode mode = request.mode;
    if (address.scheme() == u"file" && !folder.contains(address)) {
        // Outside the folder: whether something is there, and nothing more.
        answer.finalAddress = listed;
        answer.failure = fileAbsence(address);
        if (answer.failure.isEmpty()) {
            answer.status = 200;
            answer.outcome = mode == LoadMode::Page ? LoadOutcome::NotHtml : LoadOutcome::Complete;
        }
        return answer;
    }

    qint64 cap = bodyCap;
    if (mode == LoadMode::HeadersOnly
        || (mode == LoadMode::Page && !mayBeHtml(folder.filePath(address))))
        cap = 0;
    const FolderRead read = folder.read(address, cap);
    answer.finalAddress = shownAddress(folder, read.finalAddress);
    // A folder named without its "/" is read as a web server redirects it, permanently.
    if (read.finalAddress.path() != folder.served(address).path())
        answer.redirect = RedirectKind::Permanent;
    if (!read.ok()) {
        answer.failure = read.failure;
        return answer;
    }
    answer.status = 200;
    answer.contentType = read.contentType;
    answer.path = read.path;
    if (mode == LoadMode::HeadersOnly) {
        answer.outcome = LoadOutcome::Complete;
        return answer;
    }
    if (mode == LoadMode::Page && !read.isHtml()) {
        answer.outcome = LoadOutcome::NotHtml;
        return answer;
    }
    answer.body = read.body;
    answer.outcome = read.capped ? LoadOutcome::Capped : LoadOutcome::Complete;
    const bool whole = isWholeSuccess(answer.outcome, answer.status) && read.isHtml();

    if (mode == LoadMode::Page) {
        {
            const std::lock_guard lock(shared.mutex);
            const auto first = shared.readAsPage.constFind(read.identity);
            if (first == shared.readAsPage.cend())
                shared.readAsPage.insert(read.identity, listed);
            else if (*first != listed)
                return answer;
        }
        PageReading page = readPage(answer.body, answer.contentType, read.finalAddress,
                                    request.reading, defaultParseBudget, &abandoned);
        if (!page.complete)
            return answer;
        answer.links = shownLinks(folder, std::move(page.links));
        if (request.reading.anchors && whole)
            answer.anchors = std::move(page.anchors);
    } else if (mode == LoadMode::TextAndAnchors && whole) {
        PageReading page =
                readPage(answer.body, answer.contentType, read.finalAddress,
                         {.resources = false, .anchors = true}, defaultParseBudget, &abandoned);
        if (page.complete)
            answer.anchors = std::move(page.anchors);
    }
    return answer;
}

// One load of the folder, read on the page readers' threads.
class FolderPageLoad final : public PageLoad
{
public:
    FolderPageLoad(const BuiltFolder &folder, const QString &address, const LoadRequest &request,
                   qint64 bodyCap, std::shared_ptr<FolderLoader::Shared> shared)
        : task(std::make_shared<FolderTask>())
        , receiver(std::make_unique<DoneReceiver>([this] { readDone(); }))
        , mode(request.mode)
        , cap(bodyCap)
    {
        if (mode == LoadMode::Bytes)
            sink = request.onBody;
        task->receiver = receiver.get();
        // With a sink the worker finds the file, and the body goes to the sink once it is found.
        const qint64 readCap = sink ? 0 : bodyCap;
        pageReaders().start([task = task, folder, address, request, readCap, shared] {
            if (task->abandoned)
                return;
            FolderAnswer answer = readFromFolder(folder, address, QUrl(address), request, readCap,
                                                 *shared, task->abandoned);
            const std::lock_guard lock(task->mutex);
            task->answer = std::move(answer);
            if (task->receiver)
                QCoreApplication::postEvent(task->receiver, new QEvent(FolderReadEvent));
        });
    }
    ~FolderPageLoad() override
    {
        // A worker still reading finds no receiver and tells nobody; an event already posted goes
        // with the receiver.
        task->abandoned = true;
        const std::lock_guard lock(task->mutex);
        task->receiver = nullptr;
    }

    // Once done, the worker writes the answer no more: it is read without the lock.
    bool isDone() const override { return done; }
    LoadOutcome outcome() const override { return done ? answer().outcome : LoadOutcome::Running; }
    QString text() const override
    {
        if (!done || failed() || mode == LoadMode::HeadersOnly)
            return {};
        if (!decoded)
            decoded = decodeHtml(answer().body, answer().contentType);
        return *decoded;
    }
    // While the body goes to a sink, its status is known already.
    int httpStatus() const override { return done || streaming ? answer().status : 0; }
    QString statusText() const override
    {
        return httpStatus() == 200 ? QStringLiteral("OK") : QString();
    }
    QString failureReason() const override { return failed() ? answer().failure : QString(); }
    QString finalAddress() const override { return done ? answer().finalAddress : QString(); }
    RedirectKind redirectKind() const override
    {
        return done ? answer().redirect : RedirectKind::None;
    }
    QList<FoundLink> foundLinks() const override
    {
        return done && mode == LoadMode::Page ? answer().links : QList<FoundLink>();
    }
    std::optional<QStringList> anchors() const override
    {
        return done ? answer().anchors : std::nullopt;
    }
    QByteArray body() const override
    {
        return done && mode == LoadMode::Bytes ? answer().body : QByteArray();
    }

private:
    const FolderAnswer &answer() const { return task->answer; }

    // The worker has found the file, and no longer writes the answer.
    void readDone()
    {
        if (sink && task->answer.failure.isEmpty()) {
            streaming = true;
            giveToSink(task->answer, cap, sink);
            streaming = false;
        }
        done = true;
    }

    std::shared_ptr<FolderTask> task;
    bool done = false;
    std::unique_ptr<QObject> receiver;
    LoadMode mode = LoadMode::Text;
    qint64 cap = 0;
    std::function<bool(QByteArrayView)> sink;
    bool streaming = false;
    mutable std::optional<QString> decoded;
};

} // namespace

QString shownAddress(const BuiltFolder &folder, const QUrl &served)
{
    return folder.shown(served).toString(QUrl::FullyEncoded);
}

FolderLoader::FolderLoader(PageLoader &network, FetchLimits limits)
    : network(network)
    , limits(limits)
    , shared(std::make_shared<Shared>())
{
}

FolderLoader::~FolderLoader() = default;

void FolderLoader::setFolder(std::optional<BuiltFolder> folder)
{
    const bool same = folder && current && folder->root() == current->root()
                      && folder->site() == current->site();
    current = std::move(folder);
    if (!same)
        shared = std::make_shared<Shared>();
}

std::unique_ptr<PageLoad> FolderLoader::load(const QString &address, const LoadRequest &request)
{
    if (current) {
        const QUrl url(address);
        // A load of bytes may ask for a cap of its own, as from the network.
        const qint64 cap = request.mode == LoadMode::Bytes && request.bodyCap > 0 ? request.bodyCap
                                                                                  : limits.bodyCap;
        if (url.scheme() == u"file" || current->contains(url))
            return std::make_unique<FolderPageLoad>(*current, address, request, cap, shared);
    }
    return network.load(address, request);
}

void FolderLoader::startRun()
{
    network.startRun();
}

} // namespace skarnel
