// Load client for the running service: C WebSocket sessions send "window.getLocalServiceVersion" and the
// per-request latency (p50, p99) and requests per second are measured, one at a time on one session and
// with a window of requests in flight on eight. The same load runs in the same run against a peer server
// on Qt's own WebSocket module; phases alternate and repeat, and medians are reported with their ratios.
// Last, 1,000 idle sessions are held at once, each answered afterwards, and the resident memory is read.
//
//   bench_service_load [rounds]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kIdleSessions = 1000;

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

std::string maskedTextFrame(const std::string &payload)
{
    std::string frame;
    frame += char(0x81);
    if (payload.size() < 126) {
        frame += char(0x80 | payload.size());
    } else {
        frame += char(0x80 | 126);
        frame += char(payload.size() >> 8);
        frame += char(payload.size() & 0xff);
    }
    const char mask[4] = {0x0a, 0x1b, 0x2c, 0x3d};
    frame.append(mask, 4);
    for (size_t i = 0; i < payload.size(); ++i)
        frame += char(payload[i] ^ mask[i % 4]);
    return frame;
}

// Takes one complete server frame (unmasked) from the front of buffer.
bool takeFrame(std::string &buffer, std::string *payload)
{
    if (buffer.size() < 2)
        return false;
    size_t length = static_cast<unsigned char>(buffer[1]) & 0x7f;
    size_t header = 2;
    if (length == 126) {
        if (buffer.size() < 4)
            return false;
        length = (size_t(static_cast<unsigned char>(buffer[2])) << 8) | static_cast<unsigned char>(buffer[3]);
        header = 4;
    } else if (length == 127) {
        return false; // never sent for these answers
    }
    if (buffer.size() < header + length)
        return false;
    if (payload)
        payload->assign(buffer, header, length);
    buffer.erase(0, header + length);
    return true;
}

struct Session
{
    int fd = -1;
    std::string in;
    std::string request; // the framed version request of this session
    std::deque<Clock::time_point> sent;
};

bool readFrameBlocking(Session &session, std::string *payload)
{
    char chunk[65536];
    while (!takeFrame(session.in, payload)) {
        const ssize_t n = ::recv(session.fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        session.in.append(chunk, size_t(n));
    }
    return true;
}

// Handshake, then "system.webconnect"; the request frame carries the identifier of the reply.
bool openSession(quint16 port, Session &session)
{
    session.fd = connectTo(port);
    if (session.fd < 0)
        return false;
    if (!writeAll(session.fd,
            "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
            "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"))
        return false;
    char chunk[4096];
    while (session.in.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(session.fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        session.in.append(chunk, size_t(n));
    }
    if (session.in.compare(0, 12, "HTTP/1.1 101") != 0)
        return false;
    session.in.erase(0, session.in.find("\r\n\r\n") + 4);
    if (!writeAll(session.fd, maskedTextFrame(R"({"cmd":"system.webconnect"})")))
        return false;
    std::string reply;
    if (!readFrameBlocking(session, &reply))
        return false;
    const size_t at = reply.find("\"uuid\":\"");
    if (at == std::string::npos)
        return false;
    const std::string uuid = reply.substr(at + 8, 38);
    session.request = maskedTextFrame(
        R"({"cmd":"window.getLocalServiceVersion","uuid":")" + uuid + R"(","sequence":"1"})");
    return true;
}

void closeSessions(std::vector<Session> &sessions)
{
    for (Session &session : sessions)
        if (session.fd >= 0)
            ::close(session.fd);
    sessions.clear();
}

struct Result
{
    double p50Us = 0;
    double p99Us = 0;
    double requestsPerSecond = 0;
    bool ok = false;
};

double percentile(std::vector<double> &values, double p)
{
    if (values.empty())
        return 0;
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index];
}

// Each session keeps `window` requests in flight until `total` answers came back.
Result runLoad(quint16 port, int sessionCount, int window, int total)
{
    Result result;
    std::vector<Session> sessions(static_cast<size_t>(sessionCount));
    for (Session &session : sessions)
        if (!openSession(port, session))
            return result;
    std::vector<double> latencies;
    latencies.reserve(size_t(total));
    int toSend = total;
    const auto fill = [&](Session &session) {
        std::string batch;
        while (toSend > 0 && int(session.sent.size()) < window) {
            batch += session.request;
            session.sent.push_back(Clock::now());
            --toSend;
        }
        return batch.empty() || writeAll(session.fd, batch);
    };
    const Clock::time_point start = Clock::now();
    for (Session &session : sessions)
        if (!fill(session))
            return result;
    std::vector<pollfd> fds;
    for (const Session &session : sessions)
        fds.push_back({session.fd, POLLIN, 0});
    char chunk[65536];
    while (int(latencies.size()) < total) {
        if (::poll(fds.data(), fds.size(), 5000) <= 0)
            return result;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            Session &session = sessions[i];
            const ssize_t n = ::recv(session.fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return result;
            session.in.append(chunk, size_t(n));
            const Clock::time_point now = Clock::now();
            while (takeFrame(session.in, nullptr) && !session.sent.empty()) {
                latencies.push_back(
                    std::chrono::duration<double, std::micro>(now - session.sent.front()).count());
                session.sent.pop_front();
            }
            if (!fill(session))
                return result;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    closeSessions(sessions);
    result.requestsPerSecond = double(total) / seconds;
    result.p50Us = percentile(latencies, 0.50);
    result.p99Us = percentile(latencies, 0.99);
    result.ok = true;
    return result;
}

long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Holds kIdleSessions sessions open at once, then has each answered once. Returns the resident memory
// while they were held, in KiB, or -1 when a session failed.
long idleSessions(quint16 port, qint64 pid, int *answered)
{
    std::vector<Session> sessions(kIdleSessions);
    *answered = 0;
    for (Session &session : sessions)
        if (!openSession(port, session)) {
            closeSessions(sessions);
            return -1;
        }
    QThread::msleep(300);
    const long rss = residentKiB(pid);
    for (Session &session : sessions) {
        std::string reply;
        if (writeAll(session.fd, session.request) && readFrameBlocking(session, &reply)
            && reply.find("1.0.0.40") != std::string::npos)
            ++*answered;
    }
    closeSessions(sessions);
    return rss;
}

bool waitForPort(quint16 port)
{
    for (int i = 0; i < 500; ++i) {
        const int fd = connectTo(port);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

quint16 freeBasePort()
{
    std::mt19937 random(std::random_device {}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const quint16 base = quint16(20000 + random() % 40000);
        bool free = true;
        for (int i = 0; i < 2 && free; ++i) {
            const int fd = connectTo(quint16(base + i));
            free = fd < 0;
            if (fd >= 0)
                ::close(fd);
        }
        if (free)
            return base;
    }
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Phase
{
    const char *name;
    int sessions;
    int window;
    int total;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    // 1,000 sessions need more descriptors than the usual soft limit, here and in the servers.
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    const quint16 base = freeBasePort();
    const quint16 servicePort = base;
    const quint16 peerPort = quint16(base + 1);

    QTemporaryDir dir;
    QFile::copy(QStringLiteral(LS_SERVICE_BINARY), dir.filePath(QStringLiteral("LocalService")));
    QFile config(dir.filePath(QStringLiteral("LocalServiceConfig.json")));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral(R"({"ServicePortStart":%1,"ServicePortEnd":%2,"SingleInstance":"bench-%3"})")
                     .arg(servicePort)
                     .arg(servicePort + 1)
                     .arg(QCoreApplication::applicationPid())
                     .toUtf8());
    config.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    QProcess service;
    service.setProcessEnvironment(env);
    service.setWorkingDirectory(dir.path());
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(dir.filePath(QStringLiteral("LocalService")), QStringList());
    QProcess peer;
    peer.setProcessEnvironment(env);
    peer.start(QStringLiteral(LS_PEER_BINARY), {QString::number(peerPort)});
    if (!service.waitForStarted() || !peer.waitForStarted() || !waitForPort(servicePort)
        || !waitForPort(peerPort)) {
        std::fprintf(stderr, "servers did not start\n");
        return 1;
    }

    const Phase phases[] = {
        {"1 session, one at a time", 1, 1, 4000},
        {"8 sessions, 16 in flight each", 8, 16, 40000},
    };
    std::printf("WebSocket load, window.getLocalServiceVersion, medians of %d rounds\n", rounds);
    for (const Phase &phase : phases) {
        std::vector<double> rps[2], p50[2], p99[2];
        runLoad(servicePort, phase.sessions, phase.window, phase.total / 4); // warm-up
        runLoad(peerPort, phase.sessions, phase.window, phase.total / 4);
        for (int round = 0; round < rounds; ++round) {
            for (int which = 0; which < 2; ++which) {
                const Result r
                    = runLoad(which == 0 ? servicePort : peerPort, phase.sessions, phase.window, phase.total);
                if (!r.ok) {
                    std::fprintf(
                        stderr, "%s: load against %s failed\n", phase.name, which ? "peer" : "service");
                    return 1;
                }
                rps[which].push_back(r.requestsPerSecond);
                p50[which].push_back(r.p50Us);
                p99[which].push_back(r.p99Us);
            }
        }
        std::printf("\n%s (%d requests a round)\n", phase.name, phase.total);
        std::printf("  %-8s %12s %10s %10s\n", "", "req/s", "p50 us", "p99 us");
        const char *names[2] = {"service", "peer"};
        for (int which = 0; which < 2; ++which)
            std::printf("  %-8s %12.0f %10.1f %10.1f\n", names[which], median(rps[which]), median(p50[which]),
                median(p99[which]));
        std::printf("  service/peer: req/s %.2fx, p50 %.2fx, p99 %.2fx\n", median(rps[0]) / median(rps[1]),
            median(p50[0]) / median(p50[1]), median(p99[0]) / median(p99[1]));
    }

    std::printf("\n%d idle sessions held at once, then each answered\n", kIdleSessions);
    const qint64 pids[2] = {service.processId(), peer.processId()};
    const quint16 ports[2] = {servicePort, peerPort};
    const char *names[2] = {"service", "peer"};
    for (int which = 0; which < 2; ++which) {
        const long before = residentKiB(pids[which]);
        int answered = 0;
        const long held = idleSessions(ports[which], pids[which], &answered);
        std::printf("  %-8s RSS before %6.1f MiB, while held %6.1f MiB, answered %d/%d\n", names[which],
            double(before) / 1024, double(held) / 1024, answered, kIdleSessions);
    }

    service.kill();
    peer.kill();
    service.waitForFinished();
    peer.waitForFinished();
    return 0;
}
