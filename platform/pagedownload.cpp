#include "pagedownload.h"

#include "htmldecoding.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// The most body the manager holds for a download before it is read.
constexpr qint64 readBuffer = 256 * 1024;

bool isWebScheme(const QString &scheme)
{
    return scheme == u"http" || scheme == u"https";
}

// Whether the reply ended without a whole response. A status of 400 and above also ends a reply
// with an error, but the response and its body are whole.
bool brokeOff(const QNetworkReply &reply)
{
    if (!reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return true;
    switch (reply.error()) {
    case QNetworkReply::NoError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return false;
    default:
        return true;
    }
}

// Whether the body is shorter than the Content-Length the response announced. Qt now and then
// finishes a reply whose connection was reset in the middle of the body as if the body were whole.
// A compressed body is not compared (its length is that of the compressed bytes), nor a chunked
// one (its chunks say how long it is), nor a response that has no body whatever its headers say.
bool cutShort(const QNetworkReply &reply, qint64 bodySize)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if ((!encoding.isEmpty() && encoding != "identity") || reply.hasRawHeader("Transfer-Encoding")
        || status == 204 || status == 304)
        return false;
    bool announced = false;
    const qint64 length = reply.rawHeader("Content-Length").trimmed().toLongLong(&announced);
    return announced && bodySize < length;
}

// Where the response sends the browser, when it is a redirect a browser follows.
std::optional<QUrl> redirectTargetOf(const QNetworkReply &reply)
{
    switch (reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()) {
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
        break;
    default:
        return std::nullopt;
    }
    const QUrl target = reply.attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!target.isValid())
        return std::nullopt;
    return reply.url().resolved(target);
}

QString failureOf(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("host not found");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("connection reset");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("too many redirects");
    default:
        return QStringLiteral("could not be fetched");
    }
}

} // namespace

std::shared_ptr<QNetworkAccessManager> PageDownload::createManager()
{
    auto manager = std::make_shared<QNetworkAccessManager>();
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    return manager;
}

PageDownload::PageDownload(std::shared_ptr<QNetworkAccessManager> sharedManager,
                           const QString &address, const Limits &downloadLimits, Accept accepted)
    : manager(std::move(sharedManager))
    , limits(downloadLimits)
    , accept(accepted)
    , location(address, QUrl::TolerantMode)
{
    if (address.isEmpty() || !location.isValid() || !isWebScheme(location.scheme())
        || location.host().isEmpty()) {
        failure = QStringLiteral("not a web address");
        result = Outcome::Failed;
        return;
    }

    // A limit in all, not for inactivity: a server dripping bytes cannot hold a download longer.
    timeLimit.setSingleShot(true);
    timeLimit.setTimerType(Qt::PreciseTimer);
    connect(&timeLimit, &QTimer::timeout, this, [this] {
        failure = QStringLiteral("no answer within %1 s").arg(limits.time.count() / 1000.0);
        end(Outcome::TimedOut);
    });
    timeLimit.start(limits.time);
    request(location);
}

PageDownload::~PageDownload()
{
    if (reply) {
        reply->disconnect(this);
        reply->abort();
        delete reply;
    }
    delete retired;
}

void PageDownload::request(const QUrl &address)
{
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Skarnel"));
    request.setRawHeader("Accept", QByteArrayLiteral("text/html,application/xhtml+xml,*/*;q=0.8"));
    // A compressed body is read like any other, up to the cap on what it inflates to. The manager's
    // own guard against bodies that inflate too far is off: it gives such a page an empty body, or,
    // with the read buffer bounded, stalls it until the time limit.
    request.setDecompressedSafetyCheckThreshold(-1);
    reply = manager->get(request);
    // Without a bound the manager's network thread reads as fast as the server sends, whether or
    // not the body is taken: a fast endless body would fill memory before the cap is seen.
    reply->setReadBufferSize(qMin(limits.bodyCap, readBuffer));
    redirectTarget.reset();
    connect(reply, &QNetworkReply::metaDataChanged, this, &PageDownload::checkHeaders);
    connect(reply, &QNetworkReply::readyRead, this, &PageDownload::readBody);
    connect(reply, &QNetworkReply::finished, this, &PageDownload::finishReply);
}

void PageDownload::checkHeaders()
{
    redirectTarget = redirectTargetOf(*reply);
    if (redirectTarget)
        return;
    type = reply->rawHeader("Content-Type");
    if (accept == Accept::HtmlOnly && !type.isEmpty() && !isHtmlContentType(type)) {
        end(Outcome::NotHtml);
        return;
    }
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (length > 0)
        received.reserve(qMin(length, limits.bodyCap));
}

void PageDownload::readBody()
{
    if (redirectTarget) {
        // Read to the end all the same, so that the connection can carry the next request.
        reply->skip(reply->bytesAvailable());
        return;
    }
    const qint64 wanted = qMin(reply->bytesAvailable(), limits.bodyCap - received.size());
    if (wanted > 0) {
        const qsizetype start = received.size();
        received.resize(start + wanted);
        const qint64 got = reply->read(received.data() + start, wanted);
        received.resize(start + qMax<qint64>(got, 0));
    }
    if (received.size() >= limits.bodyCap)
        end(Outcome::Capped);
}

void PageDownload::finishReply()
{
    readBody();
    if (result != Outcome::Running)
        return;
    if (brokeOff(*reply)) {
        failure = failureOf(*reply);
        end(Outcome::Failed);
        return;
    }
    if (!redirectTarget && cutShort(*reply, received.size())) {
        failure = QStringLiteral("body cut short");
        end(Outcome::Failed);
        return;
    }
    if (redirectTarget) {
        if (!isWebScheme(redirectTarget->scheme()) || redirectsLeft-- == 0) {
            failure = isWebScheme(redirectTarget->scheme()) ? QStringLiteral("too many redirects")
                                                            : QStringLiteral("redirect to a non-web address");
            end(Outcome::Failed);
            return;
        }
        // In the finished signal of `reply`: it may not be deleted yet, the one before may.
        reply->disconnect(this);
        delete retired;
        retired = reply;
        location = *redirectTarget;
        request(location);
        return;
    }
    statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (type.isEmpty())
        type = reply->rawHeader("Content-Type");
    const bool notHtml = accept == Accept::HtmlOnly && !type.isEmpty() && !isHtmlContentType(type);
    end(notHtml ? Outcome::NotHtml : Outcome::Complete);
}

void PageDownload::end(Outcome outcome)
{
    timeLimit.stop();
    result = outcome;
    location = reply->url();
    // Nothing more may reach this download, not even the signals abort() emits on its way. The
    // reply itself is deleted with the download, never inside one of its own signals.
    reply->disconnect(this);
    reply->abort();
    if (outcome == Outcome::Failed || outcome == Outcome::NotHtml)
        received.clear();
    emit ended();
}
