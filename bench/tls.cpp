#include "tls.h"

#include "site.h"
#include "tools.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr int ExternalPages = 200; // as the plain site's servers
constexpr int ToolLimitSeconds = 900;
constexpr const char *NoCaFile = "n/a (skarnel has no --ca-file)";

template<typename T>
void put(const std::string &key, const T &value)
{
    std::cout << "tls_" << key << '=' << value << '\n' << std::flush;
}

void putSeconds(const std::string &key, double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    put(key, text);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeFile(const fs::path &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out.flush());
}

std::string tail(const std::string &path, std::size_t lines)
{
    std::vector<std::string> all;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    std::string out;
    for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
        out += "    " + all[i] + "\n";
    return out;
}

// A port of `address` that nothing listens on now. nginx binds it a moment later; a port taken
// meanwhile makes nginx fail to start, and the caller tries again with others.
int freePort(const char *address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in socketAddress {};
    socketAddress.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &socketAddress.sin_addr);
    socklen_t length = sizeof socketAddress;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&socketAddress), sizeof socketAddress) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&socketAddress), &length) == 0)
        port = ntohs(socketAddress.sin_port);
    ::close(fd);
    return port;
}

bool accepts(const char *address, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in socketAddress {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(std::uint16_t(port));
    ::inet_pton(AF_INET, address, &socketAddress.sin_addr);
    const bool connected =
            ::connect(fd, reinterpret_cast<sockaddr *>(&socketAddress), sizeof socketAddress) == 0;
    ::close(fd);
    return connected;
}

std::optional<std::string> nginxProgram()
{
    if (toolInstalled("nginx"))
        return std::string("nginx");
    if (::access("/usr/sbin/nginx", X_OK) == 0)
        return std::string("/usr/sbin/nginx");
    return std::nullopt;
}

// A test authority and a leaf for 127.0.0.1 and 127.0.0.2 signed by it, valid for a week, in
// `dir`: ca.pem, leaf.pem and leaf.key. Returns an error message, or nothing.
std::optional<std::string> makeCertificates(const fs::path &dir)
{
    const std::string config = (dir / "openssl.cnf").string();
    writeFile(config, "[req]\n"
                      "distinguished_name = dn\n"
                      "prompt = no\n"
                      "[dn]\n"
                      "CN = Skarnel benchmark authority\n"
                      "[authority]\n"
                      "basicConstraints = critical,CA:TRUE\n"
                      "keyUsage = critical,keyCertSign,cRLSign\n"
                      "subjectKeyIdentifier = hash\n"
                      "[leaf]\n"
                      "basicConstraints = critical,CA:FALSE\n"
                      "keyUsage = critical,digitalSignature\n"
                      "extendedKeyUsage = serverAuth\n"
                      "subjectAltName = IP:127.0.0.1,IP:127.0.0.2\n"
                      "subjectKeyIdentifier = hash\n"
                      "authorityKeyIdentifier = keyid\n");
    const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};
    auto with = [](std::vector<std::string> a, const std::vector<std::string> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::vector<std::string>> commands = {
            with({"openssl", "req", "-x509", "-config", config, "-extensions", "authority", "-days",
                  "7", "-keyout", "ca.key", "-out", "ca.pem"},
                 key),
            with({"openssl", "req", "-new", "-config", config, "-subj", "/CN=127.0.0.1", "-keyout",
                  "leaf.key", "-out", "leaf.csr"},
                 key),
            {"openssl", "x509", "-req", "-in", "leaf.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-set_serial", "2", "-days", "7", "-extfile", config, "-extensions", "leaf", "-out",
             "leaf.pem"},
    };
    const std::string log = (dir / "openssl.log").string();
    for (const std::vector<std::string> &command : commands) {
        const ToolRun run = runTool(command, dir.string(), log, 60);
        if (!run.started || run.exitCode != 0)
            return "openssl " + command[1] + " exited " + std::to_string(run.exitCode) + ":\n"
                   + tail(log, 5);
    }
    return std::nullopt;
}

// The site's pages as files: index.html and /page, /deep under `site`, /ext under `external`.
// The pages that the plain servers answer 404 are left out, so that nginx answers 404 for them.
bool writeSite(const SiteShape &shape, const fs::path &site, const fs::path &external)
{
    std::error_code error;
    fs::create_directories(site / "page", error);
    fs::create_directories(site / "deep", error);
    fs::create_directories(external / "ext", error);
    bool written = writeFile(site / "index.html", startPage(shape));
    for (int n = 1; n <= shape.pages && written; ++n)
        written = writeFile(site / "page" / (std::to_string(n) + ".html"), internalPage(shape, n));
    for (int n = 0; n < shape.deepPages && written; ++n) {
        const SitePage page = deepPage(shape, n);
        if (page.status == 200)
            written = writeFile(site / "deep" / (std::to_string(n) + ".html"), page.body);
    }
    for (int n = 0; n < shape.externalPages && written; ++n) {
        const SitePage page = externalPage(shape, n);
        if (page.status == 200)
            written = writeFile(external / "ext" / (std::to_string(n) + ".html"), page.body);
    }
    return written;
}

// Debian's nginx in the foreground, with everything it writes in its own folder. It keeps
// connections alive as the plain site's servers do, sends pages uncompressed (gzip is off unless
// configured) and logs each request's method, protocol and status, which is what is counted.
class Nginx final
{
public:
    Nginx(std::string program, fs::path dir)
        : program(std::move(program))
        , dir(std::move(dir))
    {
    }
    ~Nginx() { stop(); }
    Nginx(const Nginx &) = delete;
    Nginx &operator=(const Nginx &) = delete;

    // Starts it on free ports of 127.0.0.1 (serving `site`) and 127.0.0.2 (serving `external`),
    // with `certificate` and `key`. Returns an error message, or nothing.
    std::optional<std::string> start(const fs::path &site, const fs::path &external,
                                     const fs::path &certificate, const fs::path &key)
    {
        std::string failure;
        for (int attempt = 0; attempt < 3; ++attempt) {
            internalPort = freePort("127.0.0.1");
            externalPort = freePort("127.0.0.2");
            if (internalPort <= 0 || externalPort <= 0)
                return std::string("no free port on 127.0.0.1 or 127.0.0.2");
            writeConfig(site, external, certificate, key);
            const std::optional<std::string> error = launch();
            if (!error)
                return std::nullopt;
            failure = *error;
            stop();
        }
        return failure;
    }

    void stop()
    {
        if (pid <= 1)
            return;
        // TERM makes the master end its workers and itself; the process group (the master's
        // id, kept apart, as exited() clears pid) catches a worker left behind.
        const pid_t group = pid;
        ::kill(group, SIGTERM);
        for (int i = 0; i < 100 && !exited(); ++i)
            std::this_thread::sleep_for(50ms);
        ::kill(-group, SIGKILL);
        if (!exited()) {
            int status = 0;
            ::waitpid(group, &status, 0);
        }
        pid = -1;
    }

    int internal() const { return internalPort; }
    int externalServerPort() const { return externalPort; }
    std::string accessLog() const { return (dir / "access.log").string(); }
    std::string errorLog() const { return (dir / "error.log").string(); }

private:
    void writeConfig(const fs::path &site, const fs::path &external, const fs::path &certificate,
                     const fs::path &key) const
    {
        const fs::path temp = dir / "temp";
        std::error_code error;
        fs::create_directories(temp, error);
        std::ostringstream c;
        // As root, the workers would otherwise run as nobody, who cannot read a private folder.
        if (::geteuid() == 0)
            c << "user root;\n";
        c << "daemon off;\n"
             "worker_processes 2;\n"
             "pid "
          << (dir / "nginx.pid").string() << ";\nerror_log " << errorLog()
          << " warn;\n"
             "events { worker_connections 1024; }\n"
             "http {\n"
             "    types { text/html html; }\n"
             "    default_type application/octet-stream;\n"
             "    charset utf-8;\n"
             "    log_not_found off;\n"
             "    log_format counted '$request_method $server_protocol $status $connection';\n"
             "    access_log "
          << accessLog()
          << " counted;\n"
             "    sendfile on;\n"
             "    tcp_nodelay on;\n"
             "    keepalive_requests 1000000;\n"
             "    keepalive_timeout 5s;\n"
             "    ssl_protocols TLSv1.2 TLSv1.3;\n"
             "    ssl_session_cache shared:bench:1m;\n"
             "    ssl_certificate "
          << certificate.string() << ";\n    ssl_certificate_key " << key.string() << ";\n";
        for (const char *kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            c << "    " << kind << "_temp_path " << (temp / kind).string() << ";\n";
        c << "    server { listen 127.0.0.1:" << internalPort << " ssl http2; root "
          << site.string() << "; index index.html; }\n"
          << "    server { listen 127.0.0.2:" << externalPort << " ssl http2; root "
          << external.string() << "; }\n}\n";
        writeFile(dir / "nginx.conf", c.str());
    }

    std::optional<std::string> launch()
    {
        const std::string config = (dir / "nginx.conf").string();
        const std::string prefix = dir.string() + "/";
        const pid_t parent = ::getpid();
        pid = ::fork();
        if (pid < 0)
            return std::string("fork failed");
        if (pid == 0) {
            ::setpgid(0, 0);
            // Ends with the benchmark, however that ends.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                std::_Exit(0);
            std::freopen(errorLog().c_str(), "a", stdout);
            std::freopen(errorLog().c_str(), "a", stderr);
            ::execlp(program.c_str(), program.c_str(), "-p", prefix.c_str(), "-e",
                     errorLog().c_str(), "-c", config.c_str(), static_cast<char *>(nullptr));
            std::_Exit(127);
        }
        ::setpgid(pid, pid);
        for (int i = 0; i < 200; ++i) {
            if (exited())
                return "nginx did not start:\n" + tail(errorLog(), 5);
            if (accepts("127.0.0.1", internalPort) && accepts("127.0.0.2", externalPort))
                return std::nullopt;
            std::this_thread::sleep_for(50ms);
        }
        return "nginx did not listen within 10 s:\n" + tail(errorLog(), 5);
    }

    bool exited()
    {
        if (pid <= 0)
            return true;
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno == ECHILD)) {
            pid = -1;
            return true;
        }
        return false;
    }

    std::string program;
    fs::path dir;
    pid_t pid = -1;
    int internalPort = -1;
    int externalPort = -1;
};

// The requests nginx logged since the last call: all, HEAD, over HTTP/2, and the connections
// (each a TLS handshake) they came on.
struct Logged
{
    long long requests = 0;
    long long heads = 0;
    long long http2 = 0;
    long long connections = 0;
};

class LogReader final
{
public:
    explicit LogReader(std::string file)
        : file(std::move(file))
    {
    }
    Logged next()
    {
        // nginx writes a request's line as it ends; give the last ones a moment.
        std::this_thread::sleep_for(100ms);
        std::ifstream in(file);
        in.seekg(std::streamoff(offset));
        Logged logged;
        std::set<std::string> connections;
        for (std::string line; std::getline(in, line);) {
            offset += line.size() + 1;
            ++logged.requests;
            logged.heads += line.rfind("HEAD ", 0) == 0 ? 1 : 0;
            logged.http2 += line.find(" HTTP/2.0 ") != std::string::npos ? 1 : 0;
            connections.insert(line.substr(line.rfind(' ') + 1));
        }
        logged.connections = static_cast<long long>(connections.size());
        return logged;
    }

private:
    std::string file;
    std::size_t offset = 0;
};

bool skarnelHasCaFile(const std::string &work)
{
    const std::string output = work + "/skarnel-help.out";
    const ToolRun run = runTool({SKARNEL_PROGRAM, "--help"}, work, output, 60);
    return run.started && readFile(output).find("--ca-file") != std::string::npos;
}

// Lines of a CSV report that are entries (the address is the first field, unquoted here).
long long reportEntries(const std::string &file)
{
    std::istringstream in(readFile(file));
    long long entries = 0;
    for (std::string line; std::getline(in, line);)
        entries += line.rfind("https://", 0) == 0 ? 1 : 0;
    return entries;
}

} // namespace

int runTlsRow(int pages, int runs, const std::string &work)
{
    put("size", pages);
    put("runs", runs);
    const std::optional<std::string> nginx = nginxProgram();
    if (!nginx || !toolInstalled("openssl")) {
        put("missing", nginx ? "openssl" : "nginx");
        return 0;
    }

    const fs::path dir = fs::absolute(work) / "tls";
    std::error_code error;
    fs::create_directories(dir / "nginx", error);
    if (const std::optional<std::string> failure = makeCertificates(dir)) {
        std::cerr << "skarnel_bench: the test authority could not be made: " << *failure;
        return 1;
    }

    // The ports are in the pages' links, so nginx is configured and started before the pages
    // are written; it serves what is on disk at each request.
    Nginx server(*nginx, dir / "nginx");
    const fs::path site = dir / "site";
    const fs::path external = dir / "external";
    fs::create_directories(site, error);
    fs::create_directories(external, error);
    if (const std::optional<std::string> failure =
                server.start(site, external, dir / "leaf.pem", dir / "leaf.key")) {
        std::cerr << "skarnel_bench: " << *failure;
        return 1;
    }
    SiteShape shape;
    shape.pages = pages;
    shape.deepPages = pages;
    shape.externalPages = ExternalPages;
    shape.internalOrigin = "https://127.0.0.1:" + std::to_string(server.internal());
    shape.externalOrigin = "https://127.0.0.2:" + std::to_string(server.externalServerPort());
    if (!writeSite(shape, site, external)) {
        std::cerr << "skarnel_bench: the site could not be written to " << site.string() << "\n";
        return 1;
    }
    const std::string start = shape.internalOrigin + "/";
    const std::string ca = (dir / "ca.pem").string();

    // What the check fetches: every address the crawl lists, the start page, the internal pages,
    // the /deep pages they link and the external pages (every /deep and /ext page is linked).
    std::vector<std::string> addresses = {start};
    for (int n = 1; n <= shape.pages; ++n)
        addresses.push_back(shape.internalOrigin + internalPagePath(n));
    for (int n = 0; n < shape.deepPages; ++n)
        addresses.push_back(shape.internalOrigin + "/deep/" + std::to_string(n) + ".html");
    for (int n = 0; n < shape.externalPages; ++n)
        addresses.push_back(shape.externalOrigin + "/ext/" + std::to_string(n) + ".html");
    const std::string curlConfig = (dir / "curl.config").string();
    {
        std::ofstream file(curlConfig);
        for (const std::string &address : addresses)
            file << "url = \"" << address << "\"\noutput = \"/dev/null\"\n";
    }
    put("addresses", addresses.size());

    const bool cli = skarnelHasCaFile(work);
    // "ok" once every run of skarnel ended as it should; put after the runs.
    std::string cliState = cli ? "ok" : NoCaFile;
    const std::vector<std::string> skarnel = {"env",
                                              "XDG_CONFIG_HOME=" + work + "/cli-config",
                                              SKARNEL_PROGRAM,
                                              "--check",
                                              start,
                                              "--ca-file",
                                              ca,
                                              "--format",
                                              "csv"};
    std::vector<std::string> skarnelCrawl = skarnel;
    skarnelCrawl.insert(skarnelCrawl.end(), {"--exclude", "."});
    struct Anchor
    {
        std::string name;
        std::vector<std::string> command;
        int fineExit; // besides 0: skarnel exits 1 for the broken links the site has
    };
    std::vector<Anchor> anchors = {
            // The crawl's two levels, /deep left out, as on the plain site.
            {"wget",
             {"wget", "--spider", "-r", "-l", "2", "-X", "/deep", "-nv", "-e", "robots=off",
              "--ca-certificate=" + ca, start},
             0},
            {"curl", {"curl", "--silent", "--cacert", ca, "--config", curlConfig}, 0},
    };
    if (cli) {
        anchors.push_back({"cli", skarnel, 1});
        anchors.push_back({"cli_crawl", skarnelCrawl, 0});
    }

    LogReader log(server.accessLog());
    log.next();
    std::map<std::string, std::vector<double>> walls;
    std::map<std::string, std::vector<double>> cpus;
    std::vector<double> checks;
    for (int r = 0; r < runs; ++r) {
        for (const Anchor &anchor : anchors) {
            if (anchor.name != "cli" && anchor.name != "cli_crawl"
                && !toolInstalled(anchor.command[0])) {
                if (r == 0)
                    put(anchor.name + "_missing", 1);
                continue;
            }
            const std::string output = (dir / (anchor.name + ".out")).string();
            const ToolRun run = runTool(anchor.command, work, output, ToolLimitSeconds);
            const Logged logged = log.next();
            walls[anchor.name].push_back(run.wallSeconds);
            cpus[anchor.name].push_back(run.cpuSeconds);
            if (r + 1 == runs) {
                put(anchor.name + "_exit", run.exitCode);
                put(anchor.name + "_requests", logged.requests);
                put(anchor.name + "_head_requests", logged.heads);
                put(anchor.name + "_http2_requests", logged.http2);
                put(anchor.name + "_connections", logged.connections);
                if (anchor.name == "cli")
                    put("cli_entries", reportEntries(output));
            }
            if (!run.started || (run.exitCode != 0 && run.exitCode != anchor.fineExit)) {
                std::cerr << "tls " << anchor.name << " exited " << run.exitCode << ":\n"
                          << tail(output, 5);
                if (anchor.name.rfind("cli", 0) == 0 && cliState == "ok")
                    cliState = "failed (" + anchor.name + " exited " + std::to_string(run.exitCode)
                               + ")";
            }
        }
        if (cli && walls["cli"].size() == std::size_t(r + 1)
            && walls["cli_crawl"].size() == std::size_t(r + 1))
            checks.push_back(walls["cli"].back() - walls["cli_crawl"].back());
    }
    for (const auto &[name, values] : walls) {
        putSeconds(name + "_wall_s", median(values));
        putSeconds(name + "_cpu_s", median(cpus[name]));
    }
    if (!checks.empty())
        putSeconds("check_wall_s", median(checks));
    put("cli", cliState);
    server.stop();
    return 0;
}
