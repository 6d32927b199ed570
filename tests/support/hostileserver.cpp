#include "hostileserver.h"

#include "loopbackport.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Connections answered at once; any more are closed as soon as they are accepted.
constexpr int mostConnections = 256;
// The longest request head read.
constexpr std::size_t longestRequest = 1 << 20;
constexpr std::size_t fillerBlock = 64 * 1024;

struct Answer
{
    enum class Kind { Page, Redirect, Drip, Endless, HugeLength, GzipBomb, Garbage, Reset, Silent };

    Kind kind = Kind::Page;
    int status = 200;
    std::string contentType;
    // The body of a page, the head of the other answers, the target of a redirect.
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    qint64 length = 0;
    qint64 atMost = 0;
    bool lineBreaks = true;
};

struct PathStats
{
    int hits = 0;
    int answering = 0;
    int abandoned = 0;
    qint64 sent = 0;
    std::chrono::milliseconds longest {0};
};

enum class End { Complete, ClientGone, Stopped, Expired };

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

const char *reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 404:
        return "Not Found";
    default:
        return "Whatever";
    }
}

// One connection, seen from the thread that answers it.
class Connection final
{
public:
    Connection(int socket, int stopSignal, Clock::time_point deadline)
        : fd(socket)
        , stop(stopSignal)
        , deadline(deadline)
    {
    }

    qint64 sent = 0;

    // Reads the request head; false when the client went away or time ran out first.
    bool readRequest(std::string &request, End &end)
    {
        const auto giveUp = std::min(deadline, Clock::now() + 10s);
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            if (request.size() > longestRequest) {
                end = End::Complete;
                return false;
            }
            end = waitFor(POLLIN, giveUp);
            if (end != End::Complete)
                return false;
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                end = End::ClientGone;
                return false;
            }
            if (got > 0)
                request.append(buffer, std::size_t(got));
        }
        return true;
    }

    End send(std::string_view data)
    {
        while (!data.empty()) {
            if (Clock::now() >= deadline)
                return End::Expired;
            const ssize_t written =
                    ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (written > 0) {
                sent += written;
                data.remove_prefix(std::size_t(written));
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR)
                return End::ClientGone;
            if (const End end = waitFor(POLLOUT, deadline); end != End::Complete)
                return end;
        }
        return End::Complete;
    }

    bool stopped() const
    {
        pollfd signal = {stop, POLLIN, 0};
        return ::poll(&signal, 1, 0) > 0;
    }

    // Sleeps for `period` unless the client goes away, the server stops or time runs out.
    End pause(std::chrono::milliseconds period)
    {
        const auto until = std::min(deadline, Clock::now() + period);
        for (;;) {
            const End end = waitFor(0, until);
            if (end == End::Expired)
                return Clock::now() >= deadline ? End::Expired : End::Complete;
            if (end != End::Complete)
                return end;
        }
    }

private:
    // Waits until the socket is ready for `events` (none: only until `until`). Whatever the client
    // sends meanwhile is read and dropped; its closing the connection ends the wait.
    End waitFor(short events, Clock::time_point until)
    {
        for (;;) {
            const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left <= 0ms)
                return End::Expired;
            pollfd fds[2] = {{fd, short(events | POLLIN | POLLRDHUP), 0}, {stop, POLLIN, 0}};
            const int ready = ::poll(fds, 2, int(std::min<qint64>(left.count(), 1000)));
            if (ready < 0 && errno != EINTR)
                return End::ClientGone;
            if (fds[1].revents)
                return End::Stopped;
            if (fds[0].revents & (POLLERR | POLLHUP | POLLRDHUP))
                return End::ClientGone;
            if ((fds[0].revents & POLLIN) && !(events & POLLIN)) {
                char scratch[4096];
                const ssize_t got = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                    return End::ClientGone;
            }
            if (fds[0].revents & events)
                return End::Complete;
        }
    }

    int fd = -1;
    int stop = -1;
    Clock::time_point deadline;
};

std::string headers(int status, const std::vector<std::string> &fields)
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + ' ' + reasonOf(status) + "\r\n";
    for (const std::string &field : fields)
        head += field + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

std::string contentTypeField(const std::string &type)
{
    return type.empty() ? std::string() : "Content-Type: " + type;
}

std::vector<std::string> withoutEmpty(std::vector<std::string> fields)
{
    fields.erase(std::remove(fields.begin(), fields.end(), std::string()), fields.end());
    return fields;
}

std::string chunk(std::string_view data)
{
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + std::string(data) + "\r\n";
}

// Sends `filler` repeatedly, `total` bytes in all; `wrap` makes each piece (a chunk).
template<typename Wrap>
End sendFiller(Connection &connection, const std::string &filler, qint64 total, Wrap wrap)
{
    while (total > 0) {
        if (connection.stopped())
            return End::Stopped;
        const auto piece = std::string_view(filler).substr(
                0, std::size_t(std::min<qint64>(total, qint64(filler.size()))));
        if (const End end = connection.send(wrap(piece)); end != End::Complete)
            return end;
        total -= qint64(piece.size());
    }
    return End::Complete;
}

std::string randomBytes(std::size_t size, bool lineBreaks, quint64 &state)
{
    std::string bytes(size, '\0');
    for (char &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = char(state >> 24);
        if (!lineBreaks && (byte == '\n' || byte == '\r'))
            byte = 'x';
    }
    return bytes;
}

End answer(Connection &connection, const Answer &answer)
{
    const std::string &body = *answer.body;
    const std::string spaces(fillerBlock, ' ');
    const auto asIs = [](std::string_view piece) { return std::string(piece); };
    switch (answer.kind) {
    case Answer::Kind::Page: {
        // The head and the body go separately: a body of many megabytes is not copied.
        const End end = connection.send(headers(
                answer.status, withoutEmpty({contentTypeField(answer.contentType),
                                             "Content-Length: " + std::to_string(body.size())})));
        return end == End::Complete ? connection.send(body) : end;
    }
    case Answer::Kind::Redirect:
        return connection.send(headers(answer.status, {"Location: " + body, "Content-Length: 0"}));
    case Answer::Kind::Drip: {
        End end = connection.send(headers(200, {"Content-Type: text/html",
                                                "Content-Length: " + std::to_string(answer.length)})
                                  + body);
        for (qint64 left = answer.length - qint64(body.size()); left > 0 && end == End::Complete;
             --left) {
            end = connection.pause(1s);
            if (end == End::Complete)
                end = connection.send(" ");
        }
        return end;
    }
    case Answer::Kind::Endless: {
        End end = connection.send(headers(200, withoutEmpty({contentTypeField(answer.contentType),
                                                             "Transfer-Encoding: chunked"})));
        if (end == End::Complete && !body.empty())
            end = connection.send(chunk(body));
        if (end == End::Complete)
            end = sendFiller(connection, spaces, answer.atMost, chunk);
        return end;
    }
    case Answer::Kind::HugeLength: {
        End end = connection.send(headers(200, {"Content-Type: text/html",
                                                "Content-Length: " + std::to_string(answer.length)})
                                  + body);
        if (end == End::Complete)
            end = sendFiller(connection, spaces,
                             std::min(answer.atMost, answer.length) - qint64(body.size()), asIs);
        return end;
    }
    case Answer::Kind::GzipBomb: {
        const End end = connection.send(headers(
                200, withoutEmpty({contentTypeField(answer.contentType), "Content-Encoding: gzip",
                                   "Content-Length: " + std::to_string(body.size())})));
        return end == End::Complete ? connection.send(body) : end;
    }
    case Answer::Kind::Garbage: {
        quint64 state = 0x9E3779B97F4A7C15ULL;
        const std::string garbage = randomBytes(fillerBlock, answer.lineBreaks, state);
        return sendFiller(connection, garbage, answer.atMost, asIs);
    }
    case Answer::Kind::Reset: {
        const End end =
                connection.send(headers(200, {"Content-Type: text/html",
                                              "Content-Length: " + std::to_string(answer.length)})
                                + body);
        // Let the bytes reach the client before the reset overtakes them.
        return end == End::Complete ? connection.pause(100ms) : end;
    }
    case Answer::Kind::Silent:
        for (;;) {
            if (const End end = connection.pause(1s); end != End::Complete)
                return end;
        }
    }
    return End::Complete;
}

} // namespace

struct HostileServer::Server
{
    std::string host;
    int port = 0;
    int listening = -1;
    int stopPipe[2] = {-1, -1};
    std::chrono::milliseconds longest {0};
    std::thread acceptor;

    struct Worker
    {
        std::thread thread;
        std::atomic<bool> done = false;
    };
    std::list<Worker> workers; // only the acceptor thread and the destructor touch it

    mutable std::mutex mutex;
    std::map<std::string, Answer> answers;
    std::map<std::string, PathStats> stats;

    void set(const QString &path, Answer answer)
    {
        const std::lock_guard lock(mutex);
        answers[path.toStdString()] = std::move(answer);
    }

    PathStats statsOf(const QString &path) const
    {
        const std::lock_guard lock(mutex);
        const auto found = stats.find(path.toStdString());
        return found == stats.end() ? PathStats() : found->second;
    }

    void accept()
    {
        for (;;) {
            pollfd fds[2] = {{listening, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            if (::poll(fds, 2, 200) < 0 && errno != EINTR)
                return;
            if (fds[1].revents)
                return;
            workers.remove_if([](Worker &worker) {
                if (!worker.done)
                    return false;
                worker.thread.join();
                return true;
            });
            if (!(fds[0].revents & POLLIN))
                continue;
            const int socket = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (socket < 0)
                continue;
            if (workers.size() >= mostConnections) {
                ::close(socket);
                continue;
            }
            Worker &worker = workers.emplace_back();
            worker.thread = std::thread([this, socket, &worker] {
                serve(socket);
                worker.done = true;
            });
        }
    }

    void serve(int socket)
    {
        const auto begun = Clock::now();
        Connection connection(socket, stopPipe[0], begun + longest);
        std::string request;
        End end = End::Complete;
        if (!connection.readRequest(request, end)) {
            ::close(socket);
            return;
        }
        // "GET /path?query HTTP/1.1"
        const std::size_t pathStart = request.find(' ') + 1;
        const std::size_t pathEnd = request.find_first_of(" ?\r", pathStart);
        const std::string path = request.substr(pathStart, pathEnd - pathStart);

        Answer chosen;
        {
            const std::lock_guard lock(mutex);
            PathStats &counts = stats[path];
            ++counts.hits;
            ++counts.answering;
            const auto found = answers.find(path);
            if (found != answers.end())
                chosen = found->second;
            else
                chosen.status = 404;
        }

        end = answer(connection, chosen);
        if (chosen.kind == Answer::Kind::Reset && end == End::Complete) {
            const linger reset {1, 0};
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        } else {
            ::shutdown(socket, SHUT_WR);
        }
        ::close(socket);

        const std::lock_guard lock(mutex);
        PathStats &counts = stats[path];
        --counts.answering;
        if (end == End::ClientGone)
            ++counts.abandoned;
        counts.sent += connection.sent;
        counts.longest = std::max(
                counts.longest,
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun));
    }
};

HostileServer::HostileServer(const QString &address, std::chrono::milliseconds longestAnswer)
    : server(std::make_unique<Server>())
{
    server->host = address.toStdString();
    server->longest = longestAnswer;
    if (::pipe2(server->stopPipe, O_CLOEXEC) != 0)
        qFatal("HostileServer: no pipe");

    server->listening = bindFreeLoopbackPort(server->host);
    if (server->listening < 0 || ::listen(server->listening, 128) != 0)
        qFatal("HostileServer: cannot listen on %s", server->host.c_str());
    server->port = boundPort(server->listening);
    server->acceptor = std::thread([this] { server->accept(); });
}

HostileServer::~HostileServer()
{
    const char stop = 1;
    if (::write(server->stopPipe[1], &stop, 1) != 1)
        qWarning("HostileServer: could not signal the stop");
    server->acceptor.join();
    for (Server::Worker &worker : server->workers)
        worker.thread.join();
    ::close(server->listening);
    ::close(server->stopPipe[0]);
    ::close(server->stopPipe[1]);
}

void HostileServer::page(const QString &path, const QByteArray &body, const QByteArray &contentType,
                         int status)
{
    Answer answer;
    answer.status = status;
    answer.contentType = toStd(contentType);
    answer.body = std::make_shared<const std::string>(toStd(body));
    server->set(path, std::move(answer));
}

void HostileServer::redirect(const QString &path, const QByteArray &target, int status)
{
    Answer answer;
    answer.kind = Answer::Kind::Redirect;
    answer.status = status;
    answer.body = std::make_shared<const std::string>(toStd(target));
    server->set(path, std::move(answer));
}

void HostileServer::drip(const QString &path, const QByteArray &head, qint64 length)
{
    Answer answer;
    answer.kind = Answer::Kind::Drip;
    answer.body = std::make_shared<const std::string>(toStd(head));
    answer.length = std::max(length, qint64(head.size()));
    server->set(path, std::move(answer));
}

void HostileServer::endless(const QString &path, const QByteArray &head,
                            const QByteArray &contentType, qint64 atMost)
{
    Answer answer;
    answer.kind = Answer::Kind::Endless;
    answer.contentType = toStd(contentType);
    answer.body = std::make_shared<const std::string>(toStd(head));
    answer.atMost = atMost;
    server->set(path, std::move(answer));
}

void HostileServer::hugeLength(const QString &path, const QByteArray &head, qint64 length,
                               qint64 atMost)
{
    Answer answer;
    answer.kind = Answer::Kind::HugeLength;
    answer.body = std::make_shared<const std::string>(toStd(head));
    answer.length = std::max(length, qint64(head.size()));
    answer.atMost = std::max(atMost, qint64(head.size()));
    server->set(path, std::move(answer));
}

void HostileServer::gzipBomb(const QString &path, const QByteArray &head,
                             const QByteArray &contentType, qint64 inflated)
{
    Answer answer;
    answer.kind = Answer::Kind::GzipBomb;
    answer.contentType = toStd(contentType);
    answer.body = std::make_shared<const std::string>(toStd(makeGzipBomb(head, inflated)));
    server->set(path, std::move(answer));
}

void HostileServer::garbage(const QString &path, bool lineBreaks, qint64 atMost)
{
    Answer answer;
    answer.kind = Answer::Kind::Garbage;
    answer.lineBreaks = lineBreaks;
    answer.atMost = atMost;
    server->set(path, std::move(answer));
}

void HostileServer::resetMidBody(const QString &path, const QByteArray &head, qint64 length)
{
    Answer answer;
    answer.kind = Answer::Kind::Reset;
    answer.body = std::make_shared<const std::string>(toStd(head));
    answer.length = std::max(length, qint64(head.size()) + 1);
    server->set(path, std::move(answer));
}

void HostileServer::silent(const QString &path)
{
    Answer answer;
    answer.kind = Answer::Kind::Silent;
    server->set(path, std::move(answer));
}

QString HostileServer::url(const QString &path) const
{
    return QStringLiteral("http://") + QString::fromStdString(server->host) + u':'
           + QString::number(port()) + path;
}

quint16 HostileServer::port() const
{
    return quint16(server->port);
}

int HostileServer::hits(const QString &path) const
{
    return server->statsOf(path).hits;
}

int HostileServer::requests() const
{
    const std::lock_guard lock(server->mutex);
    int count = 0;
    for (const auto &[path, stats] : server->stats)
        count += stats.hits;
    return count;
}

int HostileServer::answering(const QString &path) const
{
    return server->statsOf(path).answering;
}

int HostileServer::abandoned(const QString &path) const
{
    return server->statsOf(path).abandoned;
}

qint64 HostileServer::sent(const QString &path) const
{
    return server->statsOf(path).sent;
}

std::chrono::milliseconds HostileServer::longestAnswer(const QString &path) const
{
    return server->statsOf(path).longest;
}

QByteArray HostileServer::makeGzipBomb(const QByteArray &head, qint64 inflated)
{
    constexpr qint64 block = 1 << 20;
    const QByteArray spaces(block, ' ');
    z_stream stream {};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY)
        != Z_OK)
        qFatal("HostileServer: no deflate");
    const auto deflated = [&stream](const QByteArray &in, int flush) {
        QByteArray out;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        stream.avail_in = uInt(in.size());
        char buffer[64 * 1024];
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
        return out;
    };

    // After a full flush nothing refers back, so the same input compresses to the same bytes,
    // which may then be repeated as often as needed.
    QByteArray bomb = deflated(head, Z_FULL_FLUSH);
    const QByteArray repeated = deflated(spaces, Z_FULL_FLUSH);
    if (deflated(spaces, Z_FULL_FLUSH) != repeated)
        qFatal("HostileServer: deflate did not repeat itself");
    QByteArray tail = deflated({}, Z_FINISH);
    deflateEnd(&stream);

    const qint64 blocks = std::max<qint64>((inflated - head.size()) / block, 1);
    bomb.reserve(bomb.size() + blocks * repeated.size() + tail.size());
    for (qint64 i = 0; i < blocks; ++i)
        bomb += repeated;

    // zlib's trailer counts the two blocks it saw; the body holds more.
    tail.chop(8);
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(head.constData()), uInt(head.size()));
    const uLong blockCrc =
            crc32(0, reinterpret_cast<const Bytef *>(spaces.constData()), uInt(block));
    for (qint64 i = 0; i < blocks; ++i)
        crc = crc32_combine(crc, blockCrc, block);
    const quint32 size = quint32(head.size() + blocks * block);
    for (const quint32 word : {quint32(crc), size}) {
        for (int byte = 0; byte < 4; ++byte)
            tail += char((word >> (8 * byte)) & 0xFF);
    }
    return bomb + tail;
}
