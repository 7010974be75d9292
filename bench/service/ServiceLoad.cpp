// Load client for the running service: C WebSocket sessions send "window.getLocalServiceVersion" and the
// per-request latency (p50, p99), requests per second and the server's CPU time per request are measured:
// one at a time on one session, one at a time on each of eight, and 16 in flight on each of four. Then
// one 16 MiB request at a time, and one 1 MiB request at a time (MB/s). Beside each row stands this load
// client's own CPU share of the row's wall time: well below 100 % it was not what held the row back. The same load runs in the same run against two peer servers doing
// the same JSON work on one thread (on Qt's WebSocket module and on Boost.Beast); the servers are pinned
// to the last core and this client to the first, the targets alternate within each round, and medians
// are reported with the ratio against the better peer. Last, 1,000 and then 10,000 idle sessions are held
// at once (10,000 without the Qt peer, which takes minutes to accept them), each answered afterwards,
// and the servers' resident memory and threads are read.
//
//   bench_service_load [rounds]
//   bench_service_load --big PORT [messages] [KiB]   only the big-message row (16 MiB unless KiB is
//                                               given), against a server already running
//   bench_service_load --load PORT SESSIONS IN_FLIGHT TOTAL   one load against a server already running
//                                               (for a profiler run: its CPU figure is not measured)

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
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTargets = 3;
const char *const kTargetNames[kTargets] = {"service", "Qt peer", "Beast peer"};
constexpr size_t kBigMessageBytes = 16 * 1024 * 1024;
constexpr int kBigMessagesPerRound = 3;
constexpr size_t kMediumMessageBytes = 1024 * 1024;
constexpr int kMediumMessagesPerRound = 48;

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
    } else if (payload.size() < 65536) {
        frame += char(0x80 | 126);
        frame += char(payload.size() >> 8);
        frame += char(payload.size() & 0xff);
    } else {
        frame += char(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((quint64(payload.size()) >> shift) & 0xff);
    }
    const char mask[4] = {0x0a, 0x1b, 0x2c, 0x3d};
    frame.append(mask, 4);
    const size_t header = frame.size();
    frame.resize(header + payload.size());
    for (size_t i = 0; i < payload.size(); ++i)
        frame[header + i] = char(payload[i] ^ mask[i % 4]);
    return frame;
}

// Skips one complete server frame (unmasked) that starts at `at` in buffer; false when it is incomplete.
bool skipFrame(const std::string &buffer, size_t &at, std::string *payload)
{
    if (buffer.size() - at < 2)
        return false;
    const char *const frame = buffer.data() + at;
    const size_t held = buffer.size() - at;
    size_t length = static_cast<unsigned char>(frame[1]) & 0x7f;
    size_t header = 2;
    if (length == 126) {
        if (held < 4)
            return false;
        length = (size_t(static_cast<unsigned char>(frame[2])) << 8) | static_cast<unsigned char>(frame[3]);
        header = 4;
    } else if (length == 127) {
        if (held < 10)
            return false;
        length = 0;
        for (int i = 2; i < 10; ++i)
            length = (length << 8) | static_cast<unsigned char>(frame[i]);
        header = 10;
    }
    if (held < header + length)
        return false;
    if (payload)
        payload->assign(buffer, at + header, length);
    at += header + length;
    return true;
}

// Takes one complete server frame from the front of buffer.
bool takeFrame(std::string &buffer, std::string *payload)
{
    size_t at = 0;
    if (!skipFrame(buffer, at, payload))
        return false;
    buffer.erase(0, at);
    return true;
}

struct Session
{
    int fd = -1;
    std::string in;
    std::string uuid;
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
    session.uuid = reply.substr(at + 8, 38);
    session.request = maskedTextFrame(
        R"({"cmd":"window.getLocalServiceVersion","uuid":")" + session.uuid + R"(","sequence":"1"})");
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
    double cpuUsPerRequest = 0;
    double clientCpuPercent = 0; // this process's CPU time over the wall time of the load
    bool ok = false;
};

// This process's user and system CPU time so far, in microseconds.
double ownCpuMicroseconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// User and system CPU time of a process so far, in microseconds.
double cpuMicroseconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1e6 / double(sysconf(_SC_CLK_TCK));
}

QByteArray statusField(qint64 pid, const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return QByteArray();
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0);
    return QByteArray();
}

long residentKiB(qint64 pid)
{
    const QByteArray value = statusField(pid, "VmRSS");
    return value.isEmpty() ? -1 : value.toLong();
}

double percentile(std::vector<double> &values, double p)
{
    if (values.empty())
        return 0;
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index];
}

// Each session keeps `window` requests in flight until `total` answers came back.
Result runLoad(quint16 port, qint64 pid, int sessionCount, int window, int total)
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
    const double cpuBefore = cpuMicroseconds(pid);
    const double ownCpuBefore = ownCpuMicroseconds();
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
            // Every complete answer of the read, then one erase: a window of answers costs no more than one.
            size_t at = 0;
            while (skipFrame(session.in, at, nullptr) && !session.sent.empty()) {
                latencies.push_back(
                    std::chrono::duration<double, std::micro>(now - session.sent.front()).count());
                session.sent.pop_front();
            }
            session.in.erase(0, at);
            if (!fill(session))
                return result;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.clientCpuPercent = (ownCpuMicroseconds() - ownCpuBefore) / (seconds * 1e4);
    result.cpuUsPerRequest = (cpuMicroseconds(pid) - cpuBefore) / double(total);
    closeSessions(sessions);
    result.requestsPerSecond = double(total) / seconds;
    result.p50Us = percentile(latencies, 0.50);
    result.p99Us = percentile(latencies, 0.99);
    result.ok = true;
    return result;
}

struct Throughput
{
    double bytesPerSecond = 0; // 0 when it failed
    double clientCpuPercent = 0;
    double serverCpuMsPerMessage = 0; // 0 without a server process to read
};

// One session sends `messages` requests of `bytes` each, one at a time, each padded with a long string
// the commands ignore. Returns the request bytes per second through the server.
Throughput bigMessages(quint16 port, qint64 pid, int messages, size_t bytes = kBigMessageBytes)
{
    Session session;
    if (!openSession(port, session))
        return {};
    const std::string head = R"({"cmd":"window.getLocalServiceVersion","uuid":")" + session.uuid
        + R"(","sequence":"1","padding":")";
    const std::string tail = R"("})";
    std::string payload = head;
    payload.append(bytes - head.size() - tail.size(), 'x');
    payload += tail;
    const std::string frame = maskedTextFrame(payload);
    const double serverCpuBefore = pid > 0 ? cpuMicroseconds(pid) : 0;
    const double ownCpuBefore = ownCpuMicroseconds();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < messages; ++i) {
        std::string reply;
        if (!writeAll(session.fd, frame) || !readFrameBlocking(session, &reply)
            || reply.find("1.0.0.40") == std::string::npos) {
            ::close(session.fd);
            return {};
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(session.fd);
    return {double(messages) * double(bytes) / seconds, (ownCpuMicroseconds() - ownCpuBefore) / (seconds * 1e4),
        pid > 0 ? (cpuMicroseconds(pid) - serverCpuBefore) / 1e3 / messages : 0};
}

struct IdleFigures
{
    long residentKiB = -1;
    int threads = -1;
    int opened = 0;
    int answered = 0;
};

// Holds `count` sessions open at once, then has each of them answered once. Sessions the server refuses
// (beyond a bound on connections) are counted as not opened; the rest are still held and asked.
IdleFigures idleSessions(quint16 port, qint64 pid, int count)
{
    IdleFigures figures;
    std::vector<Session> sessions(static_cast<size_t>(count));
    for (Session &session : sessions) {
        if (openSession(port, session)) {
            ++figures.opened;
        } else if (session.fd >= 0) {
            ::close(session.fd);
            session.fd = -1;
        }
    }
    QThread::msleep(300);
    figures.residentKiB = residentKiB(pid);
    figures.threads = statusField(pid, "Threads").toInt();
    for (Session &session : sessions) {
        std::string reply;
        if (session.fd >= 0 && writeAll(session.fd, session.request) && readFrameBlocking(session, &reply)
            && reply.find("1.0.0.40") != std::string::npos)
            ++figures.answered;
    }
    closeSessions(sessions);
    return figures;
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
        // Below Linux's ephemeral ports (32768 and up): the idle-session rows leave thousands of this
        // client's ports in TIME_WAIT, and a server listening on one of them failed to start in a rerun.
        const quint16 base = quint16(20000 + random() % 12000);
        bool free = true;
        for (int i = 0; i < kTargets && free; ++i) {
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

// The better of the two peers' figures: the larger when larger is better, else the smaller.
double betterPeer(const std::vector<double> figures[kTargets], bool largerIsBetter)
{
    const double qt = median(figures[1]);
    const double beast = median(figures[2]);
    return largerIsBetter ? std::max(qt, beast) : std::min(qt, beast);
}

void pinToCpu(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

// Starts a server pinned to `cpu` (taskset runs it in its own process, so the process id is the server's).
void startPinned(QProcess &process, int cpu, const QString &program, const QStringList &arguments)
{
    process.start(QStringLiteral("taskset"), QStringList {QStringLiteral("-c"), QString::number(cpu), program} + arguments);
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
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    // 10,000 sessions need more descriptors than the usual soft limit, here and in the servers.
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    if (argc > 2 && std::strcmp(argv[1], "--big") == 0) {
        const int messages = argc > 3 ? std::max(1, atoi(argv[3])) : kBigMessagesPerRound;
        const size_t kib = argc > 4 ? size_t(std::max(1, atoi(argv[4]))) : kBigMessageBytes / 1024;
        const Throughput t = bigMessages(quint16(atoi(argv[2])), 0, messages, kib * 1024);
        std::printf("%zu KiB requests: %.0f MB/s, client CPU %.0f%%\n", kib, t.bytesPerSecond / 1e6,
            t.clientCpuPercent);
        return t.bytesPerSecond > 0 ? 0 : 1;
    }
    if (argc > 5 && std::strcmp(argv[1], "--load") == 0) {
        const Result r = runLoad(quint16(atoi(argv[2])), 0, std::max(1, atoi(argv[3])), std::max(1, atoi(argv[4])),
            std::max(1, atoi(argv[5])));
        std::printf("req/s %.0f, p50 %.1f us, p99 %.1f us\n", r.requestsPerSecond, r.p50Us, r.p99Us);
        return r.ok ? 0 : 1;
    }
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    const int serverCpu = std::max(0, int(sysconf(_SC_NPROCESSORS_ONLN)) - 1);
    pinToCpu(0);

    const quint16 base = freeBasePort();
    quint16 ports[kTargets];
    for (int i = 0; i < kTargets; ++i)
        ports[i] = quint16(base + i);

    QTemporaryDir dir;
    QFile::copy(QStringLiteral(LS_SERVICE_BINARY), dir.filePath(QStringLiteral("LocalService")));
    QFile config(dir.filePath(QStringLiteral("LocalServiceConfig.json")));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral(R"({"ServicePortStart":%1,"ServicePortEnd":%2,"SingleInstance":"bench-%3"})")
                     .arg(ports[0])
                     .arg(ports[0] + 1)
                     .arg(QCoreApplication::applicationPid())
                     .toUtf8());
    config.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    QProcess servers[kTargets];
    for (QProcess &server : servers) {
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    servers[0].setWorkingDirectory(dir.path());
    startPinned(servers[0], serverCpu, dir.filePath(QStringLiteral("LocalService")), QStringList());
    startPinned(servers[1], serverCpu, QStringLiteral(LS_PEER_BINARY), {QString::number(ports[1])});
    startPinned(servers[2], serverCpu, QStringLiteral(LS_BEAST_PEER_BINARY), {QString::number(ports[2])});
    qint64 pids[kTargets];
    for (int i = 0; i < kTargets; ++i) {
        if (!servers[i].waitForStarted() || !waitForPort(ports[i])) {
            std::fprintf(stderr, "%s did not start\n", kTargetNames[i]);
            return 1;
        }
        pids[i] = servers[i].processId();
    }

    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average before: %.2f %.2f %.2f; servers on CPU %d, client on CPU 0\n", load[0],
            load[1], load[2], serverCpu);

    const Phase phases[] = {
        {"1 session, one at a time", 1, 1, 4000},
        {"8 sessions, one at a time each", 8, 1, 40000},
        {"4 sessions, 16 in flight each", 4, 16, 80000},
    };
    std::printf("WebSocket load, window.getLocalServiceVersion, medians of %d rounds\n", rounds);
    for (const Phase &phase : phases) {
        std::vector<double> rps[kTargets], p50[kTargets], p99[kTargets], cpu[kTargets], client[kTargets];
        for (int which = 0; which < kTargets; ++which) // warm-up
            runLoad(ports[which], pids[which], phase.sessions, phase.window, phase.total / 4);
        for (int round = 0; round < rounds; ++round) {
            for (int which = 0; which < kTargets; ++which) {
                const Result r = runLoad(ports[which], pids[which], phase.sessions, phase.window, phase.total);
                if (!r.ok) {
                    std::fprintf(stderr, "%s: load against %s failed\n", phase.name, kTargetNames[which]);
                    return 1;
                }
                rps[which].push_back(r.requestsPerSecond);
                p50[which].push_back(r.p50Us);
                p99[which].push_back(r.p99Us);
                cpu[which].push_back(r.cpuUsPerRequest);
                client[which].push_back(r.clientCpuPercent);
            }
        }
        std::printf("\n%s (%d requests a round)\n", phase.name, phase.total);
        std::printf("  %-10s %12s %10s %10s %12s %12s\n", "", "req/s", "p50 us", "p99 us", "CPU us/req",
            "client CPU");
        for (int which = 0; which < kTargets; ++which)
            std::printf("  %-10s %12.0f %10.1f %10.1f %12.2f %11.0f%%\n", kTargetNames[which], median(rps[which]),
                median(p50[which]), median(p99[which]), median(cpu[which]), median(client[which]));
        std::printf("  service / better peer: req/s %.2fx, p50 %.2fx, p99 %.2fx, CPU %.2fx\n",
            median(rps[0]) / betterPeer(rps, true), median(p50[0]) / betterPeer(p50, false),
            median(p99[0]) / betterPeer(p99, false), median(cpu[0]) / betterPeer(cpu, false));
    }

    const struct
    {
        const char *name;
        size_t bytes;
        int perRound;
    } messageRows[] = {{"16 MiB", kBigMessageBytes, kBigMessagesPerRound},
        {"1 MiB", kMediumMessageBytes, kMediumMessagesPerRound}};
    for (const auto &row : messageRows) {
        std::printf("\n%s requests, %d one at a time a round, medians of %d rounds\n", row.name, row.perRound,
            rounds);
        std::vector<double> rates[kTargets], client[kTargets], server[kTargets];
        for (int round = 0; round < rounds; ++round) {
            for (int which = 0; which < kTargets; ++which) {
                const Throughput t = bigMessages(ports[which], pids[which], row.perRound, row.bytes);
                rates[which].push_back(t.bytesPerSecond / 1e6);
                client[which].push_back(t.clientCpuPercent);
                server[which].push_back(t.serverCpuMsPerMessage);
            }
        }
        for (int which = 0; which < kTargets; ++which)
            std::printf("  %-10s %8.0f MB/s   server CPU %7.2f ms/request   client CPU %3.0f%%\n",
                kTargetNames[which], median(rates[which]), median(server[which]), median(client[which]));
        std::printf("  service / better peer: %.2fx, server CPU %.2fx\n", median(rates[0]) / betterPeer(rates, true),
            median(server[0]) / betterPeer(server, false));
    }

    for (const int count : {1000, 10000}) {
        std::printf("\n%d idle sessions held at once, then each answered\n", count);
        for (int which = 0; which < kTargets; ++which) {
            // Qt's WebSocket server takes minutes to accept thousands of sessions on a shared machine.
            if (count > 1000 && which == 1)
                continue;
            const long before = residentKiB(pids[which]);
            const IdleFigures held = idleSessions(ports[which], pids[which], count);
            std::printf("  %-10s RSS before %6.1f MiB, while held %6.1f MiB, threads %d, opened %d, answered %d\n",
                kTargetNames[which], double(before) / 1024, double(held.residentKiB) / 1024, held.threads,
                held.opened, held.answered);
        }
    }
    if (getloadavg(load, 3) == 3)
        std::printf("\nload average after: %.2f %.2f %.2f\n", load[0], load[1], load[2]);

    for (QProcess &server : servers)
        server.kill();
    for (QProcess &server : servers)
        server.waitForFinished();
    return 0;
}
