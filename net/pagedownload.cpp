#include "pagedownload.h"

#include <html/htmldecoding.h>
#include <html/webaddress.h>
#include <net/httpclient.h>

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

namespace skarnel {

namespace {

// The body of a redirect is read to its end, so that its connection can serve the next request,
// unless it is longer than this.
constexpr qint64 LongestRedirectBody = 64 * 1024;

bool startsWithNoCase(QByteArrayView line, QByteArrayView prefix)
{
    return line.size() >= prefix.size()
           && line.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// The value of the header `name` when `line` is that header, or nothing.
std::optional<QByteArray> headerValue(QByteArrayView line, QByteArrayView name)
{
    if (!startsWithNoCase(line, name) || line.size() == name.size() || line[name.size()] != ':')
        return std::nullopt;
    return line.sliced(name.size() + 1).trimmed().toByteArray();
}

// The reason phrase of the common statuses, for answers that carry none (HTTP/2 has no phrase).
QString standardReasonPhrase(int status)
{
    switch (status) {
    case 400:
        return QStringLiteral("Bad Request");
    case 401:
        return QStringLiteral("Unauthorized");
    case 402:
        return QStringLiteral("Payment Required");
    case 403:
        return QStringLiteral("Forbidden");
    case 404:
        return QStringLiteral("Not Found");
    case 405:
        return QStringLiteral("Method Not Allowed");
    case 406:
        return QStringLiteral("Not Acceptable");
    case 408:
        return QStringLiteral("Request Timeout");
    case 409:
        return QStringLiteral("Conflict");
    case 410:
        return QStringLiteral("Gone");
    case 414:
        return QStringLiteral("URI Too Long");
    case 429:
        return QStringLiteral("Too Many Requests");
    case 451:
        return QStringLiteral("Unavailable For Legal Reasons");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 501:
        return QStringLiteral("Not Implemented");
    case 502:
        return QStringLiteral("Bad Gateway");
    case 503:
        return QStringLiteral("Service Unavailable");
    case 504:
        return QStringLiteral("Gateway Timeout");
    default:
        return {};
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

RedirectKind redirectKindOf(int status)
{
    return status == 301 || status == 308 ? RedirectKind::Permanent : RedirectKind::Temporary;
}

QString secondsText(std::chrono::milliseconds time)
{
    return QString::number(double(time.count()) / 1000.0);
}

} // namespace

PageDownload::PageDownload(std::shared_ptr<HttpClient> sharedClient, const QString &address,
                           const FetchLimits &downloadLimits, Accept accepted, Retry retryWhen)
    : client(std::move(sharedClient))
    , limits(downloadLimits)
    , retry(retryWhen)
    , accept(accepted)
    , method(accepted == Accept::HeadersOnly ? Method::Head : Method::Get)
    , location(address, QUrl::TolerantMode)
{
    if (address.isEmpty() || !location.isValid() || !isWebScheme(location.scheme())
        || location.host().isEmpty()) {
        result = Outcome::Failed;
        failure = QStringLiteral("not a web address");
        location = location.adjusted(QUrl::RemoveUserInfo);
        return;
    }
    login = AddressLogin::of(location);
    location = location.adjusted(QUrl::RemoveUserInfo);
    startedWithCredentials = carriesCredentials(location);
    encodedAddress = location.toEncoded();

    retryWait.setSingleShot(true);
    connect(&retryWait, &QTimer::timeout, this, [this] { begin(); });
    easy = curl_easy_init();
    if (!easy) {
        // Like every other failure, it is told through the event loop.
        QTimer::singleShot(0, this,
                           [this] { end(Outcome::Failed, QStringLiteral("out of memory")); });
        return;
    }
    errorBuffer = std::make_unique<char[]>(CURL_ERROR_SIZE);
    errorBuffer[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer.get());
    // The address is asked for as it stands, dot segments and all.
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    // No CURLOPT_PIPEWAIT: over HTTP/1.1 it holds a page back while another one drips on the
    // connection it waits to share. HTTP/2 connections are shared all the same once they are up.
    // Every encoding libcurl can decode; the cap applies to the decoded body.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &PageDownload::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &PageDownload::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    begin();
}

PageDownload::~PageDownload()
{
    if (!easy)
        return;
    client->stop(easy);
    curl_easy_cleanup(easy);
}

void PageDownload::begin()
{
    statusCode = 0;
    reasonPhrase.clear();
    type.clear();
    received.clear();
    given = 0;
    sinkEnded = false;
    redirectLocation.clear();
    askedToRetry = false;
    redirecting = false;
    headersRead = false;
    curl_easy_setopt(easy, CURLOPT_URL, encodedAddress.constData());
    if (method == Method::Head)
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    else
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    errorBuffer[0] = '\0';
    client->start(
            easy, location, [this] { started(); }, [this](int code) { transferEnded(code); },
            login);
}

// Right before the request goes out: the time it may take. The client has set the credentials
// for its address by now.
void PageDownload::started()
{
    // A limit in all, not for inactivity: a server dripping bytes cannot hold a download longer.
    const long left = std::max<long>(1, long((limits.time - spent).count()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, left);
    sinceRequest.start();
}

size_t PageDownload::onHeader(char *data, size_t size, size_t count, void *download)
{
    return static_cast<PageDownload *>(download)->readHeader(
            QByteArrayView(data, qsizetype(size * count)));
}

size_t PageDownload::onBody(char *data, size_t size, size_t count, void *download)
{
    return static_cast<PageDownload *>(download)->readBody(
            QByteArrayView(data, qsizetype(size * count)));
}

// Headers arrive a line at a time; each status line starts the headers of another answer (an
// interim 1xx answer comes before the real one).
size_t PageDownload::readHeader(QByteArrayView line)
{
    const size_t taken = size_t(line.size());
    if (startsWithNoCase(line, "HTTP/")) {
        const QList<QByteArray> parts = line.trimmed().toByteArray().split(' ');
        statusCode = parts.size() > 1 ? parts[1].toInt() : 0;
        const qsizetype phraseAt = line.indexOf(' ', line.indexOf(' ') + 1);
        reasonPhrase =
                phraseAt > 0 ? QString::fromLatin1(line.sliced(phraseAt + 1).trimmed()) : QString();
        type.clear();
        redirectLocation.clear();
        askedToRetry = false;
        return taken;
    }
    if (line.trimmed().isEmpty()) {
        if (statusCode >= 100 && statusCode < 200)
            return taken;
        if (isRedirect(statusCode) && !redirectLocation.isEmpty()) {
            redirecting = true;
            droppedBody = 0;
            return taken;
        }
        if (method == Method::GetHeaders) {
            headersRead = true;
            return 0;
        }
        if (accept == Accept::HtmlOnly && !type.isEmpty() && !isHtmlContentType(type)) {
            notHtml = true;
            return 0;
        }
        return taken;
    }
    if (auto value = headerValue(line, "Content-Type"))
        type = std::move(*value);
    else if (auto target = headerValue(line, "Location"))
        redirectLocation = std::move(*target);
    else if (headerValue(line, "Retry-After"))
        askedToRetry = true;
    return taken;
}

size_t PageDownload::readBody(QByteArrayView data)
{
    if (redirecting) {
        droppedBody += data.size();
        return droppedBody > LongestRedirectBody ? 0 : size_t(data.size());
    }
    if (bodySink) {
        const qint64 room = limits.bodyCap - given;
        const bool over = data.size() >= room;
        const QByteArrayView piece = over ? data.first(qMax<qint64>(room, 0)) : data;
        given += piece.size();
        if (!piece.isEmpty() && !bodySink(piece)) {
            sinkEnded = true;
            return 0;
        }
        capReached = over;
        return over ? 0 : size_t(data.size());
    }
    const qint64 room = limits.bodyCap - received.size();
    if (data.size() >= room) {
        received.append(data.first(qMax<qint64>(room, 0)));
        capReached = true;
        return 0;
    }
    if (received.isEmpty()) {
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK
            && length > 0)
            received.reserve(qsizetype(qMin<qint64>(length, limits.bodyCap)));
    }
    received.append(data);
    return size_t(data.size());
}

void PageDownload::transferEnded(int code)
{
    spent += std::chrono::milliseconds(sinceRequest.elapsed());
    if (reasonPhrase.isEmpty())
        reasonPhrase = standardReasonPhrase(statusCode);

    // An answer whose headers were all that was wanted of it, its body dropped or not asked for.
    // A body its sink wanted no more of was read as far as it was wanted.
    const bool answered =
            CURLcode(code) == CURLE_OK
            || (CURLcode(code) == CURLE_WRITE_ERROR && (redirecting || headersRead || sinkEnded));
    if (answered && redirecting) {
        followRedirect();
        return;
    }
    if (answered && method == Method::Head && (statusCode == 405 || statusCode == 501)) {
        method = Method::GetHeaders;
        begin();
        return;
    }
    if (answered) {
        if (retryIfAsked())
            return;
        if (statusCode == 401 && redirects > 0 && startedWithCredentials
            && !carriesCredentials(location))
            reasonPhrase += QStringLiteral(" (credentials not sent to %1)")
                                    .arg(Origin::of(location).toString());
        end(Outcome::Complete);
        return;
    }

    switch (CURLcode(code)) {
    case CURLE_WRITE_ERROR:
        if (capReached) {
            end(Outcome::Capped);
            return;
        }
        if (notHtml) {
            end(Outcome::NotHtml);
            return;
        }
        break;
    case CURLE_OPERATION_TIMEDOUT:
        end(Outcome::TimedOut,
            QStringLiteral("no answer within %1 s").arg(secondsText(limits.time)));
        return;
    default:
        break;
    }
    end(Outcome::Failed, failureOf(code));
}

bool PageDownload::carriesCredentials(const QUrl &address) const
{
    const NetworkPolicy &policy = client->policy();
    return (policy.hasCredentials() && policy.sendsCredentialsTo(address))
           || (!login.isEmpty() && Origin::of(address) == login.origin);
}

// The words a user reads for a transfer that failed with `code`.
QString PageDownload::failureOf(int code) const
{
    const QString detail = QString::fromUtf8(errorBuffer.get()).trimmed();
    switch (CURLcode(code)) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("host not found");
    case CURLE_ABORTED_BY_CALLBACK:
        return QStringLiteral("stopped");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("connection refused");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return QStringLiteral("connection reset");
    case CURLE_PARTIAL_FILE:
        return QStringLiteral("body cut short");
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return QStringLiteral("malformed answer");
    case CURLE_PEER_FAILED_VERIFICATION: {
        long verified = X509_V_OK;
        curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verified);
        switch (verified) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return QStringLiteral("certificate is self-signed");
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return QStringLiteral("certificate has expired");
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return QStringLiteral("certificate is not yet valid");
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return QStringLiteral("certificate issued by an unknown authority");
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return QStringLiteral("certificate issued for another name");
        default:
            break;
        }
        // libcurl checks the name itself, after OpenSSL has verified the chain.
        if (detail.contains(QLatin1String("subject name"))
            || detail.contains(QLatin1String("does not match")))
            return QStringLiteral("certificate issued for another name");
        return QStringLiteral("certificate not accepted: %1").arg(detail);
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return detail.isEmpty() ? QStringLiteral("TLS handshake failed")
                                : QStringLiteral("TLS handshake failed: %1").arg(detail);
    default:
        return QString::fromUtf8(curl_easy_strerror(CURLcode(code))).toLower();
    }
}

// libcurl reads the Location of the answer against the address asked for, as it would have to
// follow it; the next request then goes through the client like the first, with what the policy
// allows for its host. GET and HEAD stay what they are through every kind of redirect (a 303 turns
// only other methods into GET), and the chain shares one time limit.
void PageDownload::followRedirect()
{
    if (redirects == 0)
        firstAnswer = redirectKindOf(statusCode);
    if (++redirects > limits.redirects) {
        end(Outcome::Failed, QStringLiteral("too many redirects"));
        return;
    }
    char *resolved = nullptr;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &resolved);
    QUrl next = resolved ? QUrl::fromEncoded(QByteArray(resolved)) : QUrl();
    if (!next.isValid()) {
        // libcurl reads no address without "//" after its scheme: data:, mailto:, javascript:.
        const QString scheme = QUrl(QString::fromLatin1(redirectLocation)).scheme();
        end(Outcome::Failed, !scheme.isEmpty() && !isWebScheme(scheme)
                                     ? QStringLiteral("redirect to a non-web address")
                                     : QStringLiteral("redirect to a malformed address"));
        return;
    }
    if (!isWebScheme(next.scheme())) {
        end(Outcome::Failed, QStringLiteral("redirect to a non-web address"));
        return;
    }
    if (next.host().isEmpty()) {
        end(Outcome::Failed, QStringLiteral("redirect to a malformed address"));
        return;
    }
    // A user name and password in a Location are the server's to give, not ours to show.
    location = next.adjusted(QUrl::RemoveUserInfo);
    encodedAddress = location.toEncoded();
    begin();
}

// A busy server may ask to be asked again shortly (429 Too Many Requests, 503 Service
// Unavailable): it is, once, after the wait it asked for if that is within the policy's cap. The
// wait is the server's, not the request's: it does not count in the time limit, and the request
// then waits its turn with its host again.
bool PageDownload::retryIfAsked()
{
    if (retry == Retry::Never || retried || !askedToRetry
        || (statusCode != 429 && statusCode != 503))
        return false;
    curl_off_t wait = -1;
    if (curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &wait) != CURLE_OK || wait < 0)
        return false;
    const std::chrono::milliseconds waitFor = std::chrono::seconds(wait);
    if (waitFor > client->policy().retryCap)
        return false;
    retried = true;
    retryWait.start(waitFor);
    return true;
}

void PageDownload::end(Outcome outcome, const QString &reason)
{
    result = outcome;
    failure = reason;
    if (outcome == Outcome::Failed || outcome == Outcome::NotHtml)
        received.clear();
    emit ended();
}

} // namespace skarnel
