#include <net/httpclient.h>
#include <net/networkpolicy.h>
#include <net/pagedownload.h>
#include <support/commandlinerun.h>
#include <support/hangbound.h>
#include <support/loopbackclient.h>
#include <support/loopbackport.h>
#include <support/loopbackserver.h>

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using namespace skarnel;
using namespace std::chrono_literals;

namespace {

bool listening(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = htons(quint16(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(s, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0;
    ::close(s);
    return connected;
}

} // namespace

// Over a real HTTP/2 server, Debian's nginx, serving TLS on loopback in front of a test server that
// counts the requests it answers at once: the requests to one host share connections, and no more
// of them than the policy allows are in flight at once.
class Http2Test final : public QObject
{
    Q_OBJECT

private slots:
    void http2_sharedConnectionsAtMostPerHost();
};

void Http2Test::http2_sharedConnectionsAtMostPerHost()
{
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty())
        QSKIP("nginx is not installed");
    constexpr int perHost = 4;
    constexpr int pages = 16;
    LoopbackServer backend;
    backend.page("/", "<a href=\"/0\">0</a> <a href=\"/1\">1</a>");
    for (int i = 0; i < pages; ++i) {
        backend.page(QStringLiteral("/%1").arg(i), "page");
        backend.delay(QStringLiteral("/%1").arg(i), 500ms);
    }

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const int probe = bindFreeLoopbackPort("127.0.0.1");
    const int port = boundPort(probe);
    ::close(probe);
    QFile config(folder.filePath("nginx.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(
            QStringLiteral("daemon off;\nmaster_process off;\npid %1/nginx.pid;\n"
                           "error_log %1/error.log;\nevents { worker_connections 64; }\n"
                           "http {\n"
                           "  log_format line '$connection $server_protocol $status';\n"
                           "  access_log %1/access.log line;\n"
                           "  client_body_temp_path %1; proxy_temp_path %1; fastcgi_temp_path %1;\n"
                           "  uwsgi_temp_path %1; scgi_temp_path %1;\n"
                           "  server {\n"
                           "    listen 127.0.0.1:%2 ssl http2;\n"
                           "    ssl_certificate %3; ssl_certificate_key %4;\n"
                           "    location / { proxy_pass http://127.0.0.1:%5; }\n"
                           "  }\n"
                           "}\n")
                    .arg(folder.path())
                    .arg(port)
                    .arg(QFINDTESTDATA("data/tls/good.pem"), QFINDTESTDATA("data/tls/leaf.key"))
                    .arg(backend.port())
                    .toUtf8());
    config.close();
    QProcess server;
    server.start(nginx, {"-p", folder.path(), "-c", config.fileName()});
    QVERIFY(server.waitForStarted());
    const auto stopServer = qScopeGuard([&] {
        server.terminate();
        if (!server.waitForFinished(hangBoundMs(10s)))
            server.kill();
    });
    // Nothing tells the event loop when nginx listens: it is asked every 50 ms.
    QTimer poll;
    poll.start(50);
    QVERIFY2(sleepUntil([&] { return listening(port) || server.state() != QProcess::Running; }, 10s)
                     && server.state() == QProcess::Running,
             qPrintable(server.readAllStandardError()));

    NetworkPolicy policy;
    policy.caFile = QFINDTESTDATA("data/tls/ca.pem");
    policy.perHost = perHost;
    std::shared_ptr<HttpClient> client = loopbackOnlyClient();
    client->setPolicy(policy);
    std::vector<std::unique_ptr<PageDownload>> downloads;
    for (int i = 0; i < pages; ++i)
        downloads.push_back(std::make_unique<PageDownload>(
                client, QStringLiteral("https://127.0.0.1:%1/%2").arg(port).arg(i), FetchLimits {},
                PageDownload::Accept::AnyContent, PageDownload::Retry::Never));
    QVERIFY(sleepUntil([&] {
        return std::all_of(downloads.begin(), downloads.end(), [](const auto &download) {
            return download->outcome() != PageDownload::Outcome::Running;
        });
    }));
    for (const auto &download : downloads)
        QCOMPARE(download->status(), 200);
    QCOMPARE(backend.mostAtOnce(), perHost);

    QFile log(folder.filePath("access.log"));
    QVERIFY(sleepUntil([&] { return log.size() >= pages * 15; }, 5s));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QSet<QByteArray> connections;
    int lines = 0;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        ++lines;
        const QList<QByteArray> fields = line.split(' ');
        QCOMPARE(fields.value(1), "HTTP/2.0");
        connections.insert(fields.value(0));
    }
    QCOMPARE(lines, pages);
    QVERIFY2(connections.size() <= perHost, qPrintable(QString::number(connections.size())));

    // The command line checks the same site, behind its private authority, with --ca-file.
    const Run run = runHere({"--check", QStringLiteral("https://127.0.0.1:%1/").arg(port),
                             "--ca-file", QFINDTESTDATA("data/tls/ca.pem")});
    QVERIFY2(run.status == 0, run.err.constData());
    QVERIFY2(run.out.contains("Internal links: 2"), run.out.constData());
}

QTEST_GUILESS_MAIN(Http2Test)
#include "tst_http2.moc"
