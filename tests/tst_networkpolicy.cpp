#include <net/httpclient.h>
#include <net/networkpolicy.h>
#include <net/networkservices.h>
#include <support/hangbound.h>
#include <support/loopbackclient.h>
#include <support/loopbackport.h>
#include <support/loopbackserver.h>

#include <QTemporaryFile>
#include <QTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

using namespace skarnel;

using namespace std::chrono_literals;

namespace {

using Fetches = std::vector<std::unique_ptr<PageLoad>>;

bool allFinish(const Fetches &fetches)
{
    return sleepUntil([&] {
        return std::all_of(fetches.begin(), fetches.end(),
                           [](const auto &fetch) { return fetch->isDone(); });
    });
}

QString reasons(const Fetches &fetches)
{
    QStringList all;
    for (const auto &fetch : fetches)
        all.append(fetch->failureReason());
    all.removeDuplicates();
    return all.join(u'|');
}

Fetches fetchAll(PageLoader &transfer, const QStringList &addresses)
{
    Fetches fetches;
    for (const QString &address : addresses)
        fetches.push_back(transfer.load(address, {}));
    return fetches;
}

} // namespace

class NetworkPolicyTest final : public QObject
{
    Q_OBJECT

private slots:
    void parseHeader_data();
    void parseHeader();
    void readCookieFile_data();
    void readCookieFile();
    void credentials_onlyToTheirHost_data();
    void credentials_onlyToTheirHost();
    void pace_requestsAtOnceToAHost_data();
    void pace_requestsAtOnceToAHost();
    void pace_pauseBetweenStarts();
    void deadHost_lookedUpOnce();
    void refusingPort_triedOnce();
};

// An error names what is wrong, never the value, which may be a secret.
void NetworkPolicyTest::parseHeader_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("header") << "X-Token: s3cret"
                            << "";
    QTest::newRow("empty value") << "X-Empty:"
                                 << "";
    QTest::newRow("no colon") << "X-Token s3cret"
                              << "no colon";
    QTest::newRow("no name") << " : s3cret"
                             << "needs a name";
    QTest::newRow("space in the name") << "X Token: s3cret"
                                       << "cannot have";
    QTest::newRow("line break") << "X-Token: s3cret\r\nX-More: s3cret"
                                << "line break";
    QTest::newRow("NUL") << QString::fromUtf8("X-Token: s3\0cret", 16) << "NUL";
}

void NetworkPolicyTest::parseHeader()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const Checked<QByteArray> header = skarnel::parseHeader(text);
    QVERIFY2(header.error.contains(error), qPrintable(header.error));
    QCOMPARE(header.ok(), error.isEmpty());
    QCOMPARE(header.value, header.ok() ? text.toUtf8() : QByteArray());
    QVERIFY(!header.error.contains("s3"));
}

void NetworkPolicyTest::readCookieFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("cookies");
    QTest::addColumn<QString>("error");
    const QByteArray file = "# Netscape HTTP Cookie File\n\n"
                            "127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cret\n"
                            "#HttpOnly_.site.test\tTRUE\t/\tTRUE\t2000000000\tid\ts3cret\r\n"
                            "127.0.0.2\tFALSE\t/\tFALSE\t0\tother\tvalue\n";
    QTest::newRow("its own host") << file << "127.0.0.1" << 1 << "";
    QTest::newRow("a subdomain") << file << "www.SITE.test" << 1 << "";
    QTest::newRow("the domain") << file << "site.test" << 1 << "";
    QTest::newRow("not a subdomain") << file << "othersite.test" << 0 << "";
    QTest::newRow("not a cookie file")
            << QByteArray("{\"cookies\": []}\n") << "127.0.0.1" << 0 << "line 1 ";
    QTest::newRow("expiry not a number")
            << QByteArray("# cookies\n127.0.0.1\tFALSE\t/\tFALSE\tsoon\tid\ts3cret\n")
            << "127.0.0.1" << 0 << "line 2 ";
    QTest::newRow("six fields") << QByteArray("127.0.0.1\tFALSE\t/\tFALSE\t0\tid\n") << "127.0.0.1"
                                << 0 << "line 1 ";
    QTest::newRow("no file") << QByteArray() << "127.0.0.1" << 0 << "cannot read";
}

void NetworkPolicyTest::readCookieFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, host);
    QFETCH(int, cookies);
    QFETCH(QString, error);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(content);
    file.close();
    const QString path = error == "cannot read" ? file.fileName() + ".gone" : file.fileName();
    const Checked<QList<QByteArray>> read = skarnel::readCookieFile(path, host);
    QVERIFY2(read.error.contains(error), qPrintable(read.error));
    QCOMPARE(read.value.size(), cookies);
    QVERIFY(!read.error.contains("s3cret"));
}

// The site on 127.0.0.1 answers 401 without the credential; a redirect from it leads to
// 127.0.0.2 and back. The other host never sees the credential, and the site sees it again.
void NetworkPolicyTest::credentials_onlyToTheirHost_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("header") << "header" << QByteArray("X-Token") << QByteArray("s3cret");
    QTest::newRow("basic") << "basic" << QByteArray("Authorization")
                           << "Basic " + QByteArray("someone:s3cret").toBase64();
    QTest::newRow("cookie") << "cookie" << QByteArray("Cookie") << QByteArray("session=s3cret");
    QTest::newRow("login in the address") << "address" << QByteArray("Authorization")
                                          << "Basic " + QByteArray("someone:s3cret").toBase64();
}

void NetworkPolicyTest::credentials_onlyToTheirHost()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, value);
    LoopbackServer site;
    LoopbackServer other(QStringLiteral("127.0.0.2"));
    QVERIFY(other.port() != 0);
    site.page("/private", "secret page");
    site.requireHeader("/private", header, value);
    site.redirect("/away", other.url("/hop"));
    other.redirect("/hop", site.url("/private"));

    QTemporaryFile cookies;
    QVERIFY(cookies.open());
    cookies.write("127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cret\n"
                  "127.0.0.2\tFALSE\t/\tFALSE\t0\tsession\ts3cret\n");
    cookies.close();
    NetworkPolicy policy;
    policy.setStart(QUrl(site.url("/")));
    if (kind == "header")
        policy.headers = {header + ": " + value};
    if (kind == "basic") {
        policy.user = "someone";
        policy.password = "s3cret";
    }
    if (kind == "cookie")
        policy.cookies = skarnel::readCookieFile(cookies.fileName(), "127.0.0.1").value;
    const auto address = [&](const QString &path) {
        QString url = site.url(path);
        return kind == "address" ? url.replace("http://", "http://someone:s3cret@") : url;
    };

    NetworkServices plain(loopbackOnlyClient());
    NetworkServices allowed(loopbackOnlyClient());
    allowed.setPolicy(policy);
    Fetches fetches = fetchAll(plain, {site.url("/private")});
    fetches.push_back(allowed.load(address("/private"), {}));
    fetches.push_back(allowed.load(address("/away"), {}));
    QVERIFY(allFinish(fetches));
    QCOMPARE(fetches[0]->httpStatus(), 401);
    QCOMPARE(fetches[1]->httpStatus(), 200);
    QCOMPARE(fetches[2]->httpStatus(), 200);
    QCOMPARE(fetches[2]->text(), "secret page");
    QCOMPARE(other.hits("/hop"), 1);
    QCOMPARE(other.carrying(header), 0);
    for (const auto &fetch : fetches)
        QVERIFY(!fetch->finalAddress().contains("s3cret"));
}

// The server's pool has more threads than requests at once: the most it answers at once is both
// the limit kept and the limit reached, also past the client's first connection caps.
void NetworkPolicyTest::pace_requestsAtOnceToAHost_data()
{
    QTest::addColumn<int>("perHost");
    QTest::newRow("2") << 2;
    QTest::newRow("8") << 8;
}

void NetworkPolicyTest::pace_requestsAtOnceToAHost()
{
    QFETCH(int, perHost);
    LoopbackServer server;
    server.page("/slow", "in time");
    // Long enough for every connection of a round to be made before its first answer, on a busy
    // machine too.
    server.delay("/slow", 500ms);
    NetworkServices network(loopbackOnlyClient());
    network.setPolicy({});
    NetworkPolicy policy;
    policy.perHost = perHost;
    network.setPolicy(policy);

    const Fetches fetches = fetchAll(network, QStringList(3 * perHost, server.url("/slow")));
    QVERIFY(allFinish(fetches));
    QCOMPARE(reasons(fetches), QString());
    QCOMPARE(server.hits("/slow"), 3 * perHost);
    QCOMPARE(server.mostAtOnce(), perHost);
}

// An ordering, not a speed: each request to the host starts a pause after the one before. The
// server sees them later than they start, by varying amounts, hence the tolerance.
void NetworkPolicyTest::pace_pauseBetweenStarts()
{
    constexpr auto pause = 150ms;
    LoopbackServer server;
    server.page("/page", "paced");
    NetworkServices network(loopbackOnlyClient());
    NetworkPolicy policy;
    policy.pause = pause;
    network.setPolicy(policy);

    const Fetches fetches = fetchAll(network, QStringList(4, server.url("/page")));
    QVERIFY(allFinish(fetches));
    const QList<qint64> arrivals = server.arrivals("/page");
    QCOMPARE(arrivals.size(), 4);
    for (qsizetype i = 1; i < arrivals.size(); ++i)
        QVERIFY2(arrivals[i] - arrivals[i - 1] >= pause.count() / 2,
                 qPrintable(QString::number(arrivals[i] - arrivals[i - 1])));
}

void NetworkPolicyTest::deadHost_lookedUpOnce()
{
    int lookups = 0;
    HttpClient::Options options;
    options.unresolvable = [](const QString &host) { return !isLoopbackHost(host); };
    options.lookedUp = [&](const QString &) { ++lookups; };
    NetworkServices network(HttpClient::create(options));

    QStringList addresses;
    for (int i = 0; i < 50; ++i)
        addresses.append(QStringLiteral("http://dead-%1.test/page-%2").arg(i % 5).arg(i));
    const Fetches fetches = fetchAll(network, addresses);
    QVERIFY(allFinish(fetches));
    QCOMPARE(reasons(fetches), "host not found");
    QCOMPARE(lookups, 5);

    network.startRun();
    const Fetches again = fetchAll(network, {addresses[0], addresses[1]});
    QVERIFY(allFinish(again));
    QCOMPARE(reasons(again), "host not found");
    QCOMPARE(lookups, 7);
}

// The port refuses the first connection and then listens: the requests after the first fail as
// it did, without connecting, until a new run.
void NetworkPolicyTest::refusingPort_triedOnce()
{
    const int socket = bindFreeLoopbackPort("127.0.0.1");
    QVERIFY(socket >= 0);
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(boundPort(socket));
    NetworkServices network(loopbackOnlyClient(), {1s});

    const Fetches first = fetchAll(network, {address});
    QVERIFY(allFinish(first));
    QCOMPARE(reasons(first), "connection refused");
    QCOMPARE(::listen(socket, 16), 0);
    const Fetches rest = fetchAll(network, QStringList(5, address));
    QVERIFY(allFinish(rest));
    QCOMPARE(reasons(rest), "connection refused");
    ::fcntl(socket, F_SETFL, O_NONBLOCK);
    QCOMPARE(::accept(socket, nullptr, nullptr), -1);

    network.startRun();
    const Fetches later = fetchAll(network, {address});
    QVERIFY(allFinish(later));
    QCOMPARE(reasons(later), "no answer within 1 s");
    ::close(socket);
}

QTEST_GUILESS_MAIN(NetworkPolicyTest)
#include "tst_networkpolicy.moc"
