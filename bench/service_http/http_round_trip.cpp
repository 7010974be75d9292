// HTTP command round trip: LocalService against the single-threaded Qt peer, in one run.
//
//   http_round_trip [--commands N] [--clients C]
//
// Each command is "window.getLocalServiceVersion" as a POST body on a new connection (the service
// answers one request per connection). Measured per target: latency of one command at a time
// (p50, p99) and commands per second, then commands per second with C clients at once, each beside this
// client's own CPU share of the phase (well below 100 %: the client did not hold it back). LocalService
// is the executable beside this program, started from a temp dir with its own configuration.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Sends one request on a new connection and reads the answer to its end (Content-Length or the last
// chunk): the service keeps the connection open a moment after answering, so the close is no marker.
bool roundTrip(quint16 port, const std::string &request, std::string *answerBody)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    std::string answer;
    char buffer[4096];
    while (ok) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            ok = false;
            break;
        }
        answer.append(buffer, size_t(got));
        const size_t headEnd = answer.find("\r\n\r\n");
        if (headEnd == std::string::npos)
            continue;
        std::string head = answer.substr(0, headEnd);
        std::transform(head.begin(), head.end(), head.begin(), ::tolower);
        const size_t length = head.find("content-length:");
        if (length != std::string::npos) {
            const size_t expected = std::strtoul(head.c_str() + length + 15, nullptr, 10);
            if (answer.size() >= headEnd + 4 + expected) {
                *answerBody = answer.substr(headEnd + 4, expected);
                break;
            }
        } else if (answer.size() >= headEnd + 9 && answer.compare(answer.size() - 5, 5, "0\r\n\r\n") == 0) {
            const size_t sizeEnd = answer.find("\r\n", headEnd + 4);
            *answerBody = answer.substr(sizeEnd + 2, answer.size() - 7 - sizeEnd - 2);
            break;
        }
    }
    ::close(fd);
    return ok;
}

std::string postRequest(const std::string &body)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct Figures
{
    double p50Us = 0;
    double p99Us = 0;
    double sequentialRate = 0;
    double concurrentRate = 0;
    // This client's CPU time over the wall time of each phase (all of it pinned to one core): well below
    // 100 % it was not what held the figures back.
    double sequentialClientCpu = 0;
    double concurrentClientCpu = 0;
    int failures = 0;
};

// This process's user and system CPU time so far (all threads), in seconds.
double ownCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Figures measure(quint16 port, const std::string &request, int commands, int clients)
{
    Figures figures;
    std::string body;
    for (int i = 0; i < commands / 10; ++i) // warm-up
        roundTrip(port, request, &body);

    std::vector<double> latencies;
    latencies.reserve(size_t(commands));
    double cpuBefore = ownCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < commands; ++i) {
        const auto before = Clock::now();
        if (!roundTrip(port, request, &body))
            ++figures.failures;
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.sequentialClientCpu = 100 * (ownCpuSeconds() - cpuBefore) / seconds;
    std::sort(latencies.begin(), latencies.end());
    figures.p50Us = latencies[latencies.size() / 2];
    figures.p99Us = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    figures.sequentialRate = commands / seconds;

    std::atomic<int> failures {0};
    std::vector<std::thread> threads;
    cpuBefore = ownCpuSeconds();
    const auto concurrentStart = Clock::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            std::string answer;
            for (int i = 0; i < commands / clients; ++i) {
                if (!roundTrip(port, request, &answer))
                    ++failures;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    const double concurrentSeconds = std::chrono::duration<double>(Clock::now() - concurrentStart).count();
    figures.concurrentRate = (commands / clients) * clients / concurrentSeconds;
    figures.concurrentClientCpu = 100 * (ownCpuSeconds() - cpuBefore) / concurrentSeconds;
    figures.failures += failures;
    return figures;
}

bool waitForPort(quint16 port)
{
    std::string body;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        if (up)
            return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int commands = 2000;
    int clients = 8;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--commands"))
            commands = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--clients"))
            clients = args[i + 1].toInt();
    }

    QTemporaryDir dir;
    const quint16 servicePort = freePort();
    const QString service = dir.filePath(QStringLiteral("LocalService"));
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/LocalService"), service);
    QFile config(dir.filePath(QStringLiteral("LocalServiceConfig.json")));
    config.open(QIODevice::WriteOnly);
    config.write(
        QStringLiteral("{\"ServicePortStart\":%1,\"ServicePortEnd\":%2,\"SingleInstance\":\"bench-http-%3\"}")
            .arg(servicePort)
            .arg(servicePort + 1)
            .arg(QCoreApplication::applicationPid())
            .toUtf8());
    config.close();
    QProcess serviceProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    serviceProcess.setProcessEnvironment(environment);
    serviceProcess.setWorkingDirectory(dir.path());
    serviceProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Both servers on the last core and this client on the first, as the WebSocket load runs.
    const QString serverCpu = QString::number(std::max(0, int(sysconf(_SC_NPROCESSORS_ONLN)) - 1));
    cpu_set_t clientCpu;
    CPU_ZERO(&clientCpu);
    CPU_SET(0, &clientCpu);
    sched_setaffinity(0, sizeof clientCpu, &clientCpu);
    serviceProcess.start(QStringLiteral("taskset"), {QStringLiteral("-c"), serverCpu, service});

    const quint16 peerPort = freePort();
    QProcess peerProcess;
    peerProcess.start(QStringLiteral("taskset"),
        {QStringLiteral("-c"), serverCpu, QCoreApplication::applicationDirPath() + QStringLiteral("/http_peer_server"),
            QString::number(peerPort)});

    if (!waitForPort(servicePort) || !waitForPort(peerPort)) {
        std::fprintf(stderr, "http_round_trip: the service or the peer does not listen\n");
        return 1;
    }

    std::string connectReply;
    roundTrip(servicePort, postRequest("{\"cmd\":\"system.webconnect\"}"), &connectReply);
    const size_t uuidAt = connectReply.find("\"uuid\":\"");
    const std::string uuid
        = uuidAt == std::string::npos ? std::string() : connectReply.substr(uuidAt + 8, 38);
    const std::string request = postRequest(
        "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"" + uuid + "\",\"sequence\":\"1\"}");
    std::string check;
    roundTrip(servicePort, request, &check);
    std::printf("service answer: %s\n", check.c_str());

    const Figures ours = measure(servicePort, request, commands, clients);
    const Figures peer = measure(peerPort, request, commands, clients);

    std::printf("HTTP command round trip, a new connection per command, %d commands, %d clients at once\n",
        commands, clients);
    std::printf("%-14s %10s %10s %14s %11s %16s %11s %9s\n", "", "p50 us", "p99 us", "commands/s", "client CPU",
        "commands/s x", "client CPU", "failures");
    for (const auto &[name, figures] :
        {std::pair<const char *, Figures> {"LocalService", ours}, {"Qt peer", peer}})
        std::printf("%-14s %10.0f %10.0f %14.0f %10.0f%% %16.0f %10.0f%% %9d\n", name, figures.p50Us, figures.p99Us,
            figures.sequentialRate, figures.sequentialClientCpu, figures.concurrentRate, figures.concurrentClientCpu,
            figures.failures);
    std::printf("ratio service/peer: p50 %.2f, commands/s %.2f, commands/s with %d clients %.2f\n",
        ours.p50Us / peer.p50Us, ours.sequentialRate / peer.sequentialRate, clients,
        ours.concurrentRate / peer.concurrentRate);

    serviceProcess.terminate();
    peerProcess.terminate();
    serviceProcess.waitForFinished(3000);
    peerProcess.waitForFinished(3000);
    return ours.failures + peer.failures ? 1 : 0;
}
