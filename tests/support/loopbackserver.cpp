#include "loopbackserver.h"

#include "loopbackport.h"

// Debian's cpp-httplib is built with OpenSSL: its pkg-config file defines
// CPPHTTPLIB_OPENSSL_SUPPORT, which makes httplib::SSLServer.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto trickleInterval = 20ms;
constexpr auto longestTrickle = 60s;

struct Answer
{
    enum class Kind { Page, Redirect, Stall };

    Kind kind = Kind::Page;
    int status = 200;
    std::string body;
    std::string contentType;
    std::string location;
    // Answered first this many times with `busyStatus` and a Retry-After of `retryAfter`.
    int busyFor = 0;
    int busyStatus = 429;
    std::string retryAfter;
    // Answered to HEAD requests when not 0.
    int headStatus = 0;
    // Unless empty, the request must carry this header with this value, or is answered 401.
    std::string requiredName;
    std::string requiredValue;
    std::chrono::milliseconds delay {0};
};

std::string toLower(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), size_t(bytes.size()));
}

std::unique_ptr<httplib::Server> serverFor(const LoopbackServer::Tls &tls)
{
    if (tls.certificate.isEmpty())
        return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(tls.certificate.toLocal8Bit().constData(),
                                                tls.key.toLocal8Bit().constData());
}

} // namespace

struct LoopbackServer::Server
{
    explicit Server(const LoopbackServer::Tls &certificate)
        : httpServer(serverFor(certificate))
        , tls(!certificate.certificate.isEmpty())
    {
    }

    std::unique_ptr<httplib::Server> httpServer;
    httplib::Server &http = *httpServer;
    bool tls = false;
    std::string host;
    int port = 0;
    std::thread listener;

    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::map<std::string, Answer> answers;
    std::map<std::string, int> hits;
    std::map<std::string, std::string> methods;
    std::map<std::string, QList<qint64>> arrivals;
    std::map<std::string, int> carrying;
    std::map<std::string, QList<QByteArray>> received;
    int answering = 0;
    int mostAtOnce = 0;
    std::map<std::string, int> trickling;
    std::map<std::string, int> abandoned;

    void set(const QString &path, Answer answer)
    {
        const std::lock_guard lock(mutex);
        answers[path.toStdString()] = std::move(answer);
    }

    int count(const std::map<std::string, int> &counts, const QString &path) const
    {
        const std::lock_guard lock(mutex);
        const auto found = counts.find(path.toStdString());
        return found == counts.end() ? 0 : found->second;
    }

    void answer(const httplib::Request &request, httplib::Response &response)
    {
        {
            const std::lock_guard lock(mutex);
            mostAtOnce = std::max(mostAtOnce, ++answering);
        }
        answerCounted(request, response);
        const std::lock_guard lock(mutex);
        --answering;
    }

    void answerCounted(const httplib::Request &request, httplib::Response &response)
    {
        Answer answer;
        {
            const std::lock_guard lock(mutex);
            ++hits[request.path];
            arrivals[request.path].append(
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
            for (const auto &header : request.headers) {
                ++carrying[toLower(header.first)];
                received[toLower(header.first)].append(QByteArray::fromStdString(header.second));
            }
            std::string &seen = methods[request.path];
            seen += (seen.empty() ? "" : " ") + request.method;
            const auto found = answers.find(request.path);
            if (found == answers.end()) {
                response.status = 404;
                return;
            }
            if (found->second.headStatus != 0 && request.method == "HEAD") {
                response.status = found->second.headStatus;
                return;
            }
            if (!found->second.requiredName.empty()
                && request.get_header_value(found->second.requiredName.c_str())
                           != found->second.requiredValue) {
                response.status = 401;
                return;
            }
            if (found->second.busyFor > 0) {
                --found->second.busyFor;
                response.status = found->second.busyStatus;
                response.set_header("Retry-After", found->second.retryAfter);
                response.set_content("busy", "text/plain");
                return;
            }
            answer = found->second;
        }
        std::this_thread::sleep_for(answer.delay);
        // The server compresses for a client that accepts it, brotli first, at a quality that
        // costs seconds for each megabyte: a client that takes gzip is given gzip. The request is
        // the server's own, not a constant.
        auto &headers = const_cast<httplib::Request &>(request).headers;
        const bool gzip =
                request.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
        headers.erase("Accept-Encoding");
        switch (answer.kind) {
        case Answer::Kind::Page:
            if (gzip)
                headers.emplace("Accept-Encoding", "gzip");
            // The server sends text/plain for a body without a Content-Type; an empty one is
            // read by clients as none.
            response.set_content(answer.body, answer.contentType.c_str());
            break;
        case Answer::Kind::Redirect:
            response.set_header("Location", answer.location);
            break;
        case Answer::Kind::Stall:
            // Sent uncompressed: the compressor would hold the small writes back, and no byte would
            // leave, nor would a closed connection show.
            response.set_chunked_content_provider(
                    answer.contentType,
                    [this, path = request.path, head = answer.body](
                            size_t, httplib::DataSink &sink) { return trickle(path, head, sink); });
            break;
        }
        response.status = answer.status;
    }

    // Runs once per answer: it returns only when the answer is over.
    bool trickle(const std::string &path, const std::string &head, httplib::DataSink &sink)
    {
        const auto giveUp = std::chrono::steady_clock::now() + longestTrickle;
        bool written = head.empty() || sink.write(head.data(), head.size());
        std::unique_lock lock(mutex);
        ++trickling[path];
        while (written) {
            if (stopped.wait_for(lock, trickleInterval, [this] { return stopping; })
                || std::chrono::steady_clock::now() > giveUp) {
                --trickling[path];
                lock.unlock();
                sink.done();
                return true;
            }
            lock.unlock();
            written = sink.write(" ", 1);
            lock.lock();
        }
        --trickling[path];
        ++abandoned[path];
        return false;
    }
};

LoopbackServer::LoopbackServer(const QString &address, const Tls &tls)
    : server(std::make_unique<Server>(tls))
{
    // A client that goes away in the middle of an answer must end the write with an error, not the
    // test program.
    std::signal(SIGPIPE, SIG_IGN);

    server->host = address.toStdString();
    // More threads than the most requests at once that a test asks for, kept-alive connections
    // included.
    server->http.new_task_queue = [] { return new httplib::ThreadPool(24); };
    server->http.Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
        server->answer(request, response);
    });
    // The port is chosen on a socket of our own and bound again by the server at once; should
    // another program take it in between, another one is chosen.
    for (int attempt = 0; attempt < 8 && server->port <= 0; ++attempt) {
        const int chosen = bindFreeLoopbackPort(server->host);
        if (chosen < 0)
            return;
        const int port = boundPort(chosen);
        ::close(chosen);
        if (server->http.bind_to_port(server->host, port))
            server->port = port;
    }
    if (server->port <= 0)
        return;
    server->listener = std::thread([this] { server->http.listen_after_bind(); });
    // Stopping a server that is not yet running does nothing, and its thread would then wait for
    // connections for ever. Connections made meanwhile wait in the listening socket's queue.
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (!server->http.is_running() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
}

LoopbackServer::~LoopbackServer()
{
    {
        const std::lock_guard lock(server->mutex);
        server->stopping = true;
    }
    server->stopped.notify_all();
    server->http.stop();
    if (server->listener.joinable())
        server->listener.join();
}

void LoopbackServer::page(const QString &path, const QByteArray &body,
                          const QByteArray &contentType, int status)
{
    Answer answer;
    answer.status = status;
    answer.body = toStd(body);
    answer.contentType = toStd(contentType);
    server->set(path, std::move(answer));
}

void LoopbackServer::busy(const QString &path, int times, int status, const QByteArray &retryAfter)
{
    const std::lock_guard lock(server->mutex);
    Answer &answer = server->answers[path.toStdString()];
    answer.busyFor = times;
    answer.busyStatus = status;
    answer.retryAfter = toStd(retryAfter);
}

void LoopbackServer::refuseHead(const QString &path, int status)
{
    const std::lock_guard lock(server->mutex);
    server->answers[path.toStdString()].headStatus = status;
}

void LoopbackServer::requireHeader(const QString &path, const QByteArray &name,
                                   const QByteArray &value)
{
    const std::lock_guard lock(server->mutex);
    Answer &answer = server->answers[path.toStdString()];
    answer.requiredName = toStd(name);
    answer.requiredValue = toStd(value);
}

void LoopbackServer::delay(const QString &path, std::chrono::milliseconds delay)
{
    const std::lock_guard lock(server->mutex);
    server->answers[path.toStdString()].delay = delay;
}

void LoopbackServer::redirect(const QString &path, const QString &target, int status)
{
    Answer answer;
    answer.kind = Answer::Kind::Redirect;
    answer.status = status;
    answer.location = target.toStdString();
    server->set(path, std::move(answer));
}

void LoopbackServer::stall(const QString &path, const QByteArray &head,
                           const QByteArray &contentType)
{
    Answer answer;
    answer.kind = Answer::Kind::Stall;
    answer.body = toStd(head);
    answer.contentType = toStd(contentType);
    server->set(path, std::move(answer));
}

QString LoopbackServer::url(const QString &path) const
{
    return (server->tls ? QStringLiteral("https://") : QStringLiteral("http://"))
           + QString::fromStdString(server->host) + u':' + QString::number(port()) + path;
}

quint16 LoopbackServer::port() const
{
    return quint16(server->port);
}

int LoopbackServer::hits(const QString &path) const
{
    return server->count(server->hits, path);
}

QString LoopbackServer::methods(const QString &path) const
{
    const std::lock_guard lock(server->mutex);
    const auto found = server->methods.find(path.toStdString());
    return found == server->methods.end() ? QString() : QString::fromStdString(found->second);
}

QList<qint64> LoopbackServer::arrivals(const QString &path) const
{
    const std::lock_guard lock(server->mutex);
    const auto found = server->arrivals.find(path.toStdString());
    return found == server->arrivals.end() ? QList<qint64>() : found->second;
}

int LoopbackServer::carrying(const QByteArray &name) const
{
    return server->count(server->carrying, QString::fromLatin1(name.toLower()));
}

QList<QByteArray> LoopbackServer::received(const QByteArray &name) const
{
    const std::lock_guard lock(server->mutex);
    const auto found = server->received.find(name.toLower().toStdString());
    return found == server->received.end() ? QList<QByteArray>() : found->second;
}

int LoopbackServer::mostAtOnce() const
{
    const std::lock_guard lock(server->mutex);
    return server->mostAtOnce;
}

int LoopbackServer::trickling(const QString &path) const
{
    return server->count(server->trickling, path);
}

int LoopbackServer::abandoned(const QString &path) const
{
    return server->count(server->abandoned, path);
}

QString LoopbackServer::refusedUrl(const QString &path)
{
    const int probe = bindFreeLoopbackPort("127.0.0.1");
    const int port = boundPort(probe);
    ::close(probe);
    return QStringLiteral("http://127.0.0.1:") + QString::number(port) + path;
}
