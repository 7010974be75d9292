#pragma once

#include "standins/video_control/RtcpReceiverReport.h"
#include "standins/video_control/RtpDepacketizer.h"
#include "standins/video_control/RtspAuthenticator.h"
#include "standins/video_control/RtspReader.h"
#include "standins/video_control/SdpDescription.h"

#include <QHostAddress>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <memory>

class QTcpSocket;
class QUdpSocket;

// A small RTSP client (RFC 2326) for one H.264 or H.265 video stream: OPTIONS, DESCRIBE, SETUP (RTP over
// the RTSP connection, or over UDP), PLAY, PAUSE, keep-alive requests and TEARDOWN (with receiver reports
// on UDP), and the stream's access units as soon as their last packet came. It runs blocking on the thread that made it, in short waits
// that look at the stop flag. Anything it does not take (a server that sends the client elsewhere, a
// codec, transport or challenge it does not know) is answered as NotTaken before PLAY, so that the caller
// can open the stream another way; a server whose bytes break the framing or its bounds is Malformed,
// and tried no other way. Credentials answer the server's challenges (Digest, or Basic where the server
// offers nothing else); a server that refuses them, or wants some and has none, is Unauthorized.
class RtspClient
{
public:
    using Clock = std::chrono::steady_clock;

    // Malformed: the server's framing broke a bound or could not be read; no other client is tried on it.
    enum class Opened { Ready, Stopped, Unreachable, NotFound, NotTaken, Malformed, Unauthorized };
    enum class Read { Unit, Stopped, Lost, Silent };

    explicit RtspClient(const std::atomic<bool> &stop);
    ~RtspClient(); // TEARDOWN, without waiting for its answer
    RtspClient(const RtspClient &) = delete;
    RtspClient &operator=(const RtspClient &) = delete;

    // Connects to address (the URL's host, looked up) and sets up the stream's video, all before deadline.
    // The URL's own user name and password (percent-decoded) are used when it has a user name, else
    // user and password.
    Opened open(const QUrl &url, const QHostAddress &address, bool tcp, const QString &user, const QString &password,
        Clock::time_point deadline);
    const SdpDescription &description() const { return m_description; }
    // The next complete access unit; Silent when nothing came before deadline, Lost when the server went.
    Read read(AccessUnit &unit, Clock::time_point deadline);
    // The sender's wall clock (µs since the epoch) at an RTP timestamp, from its latest sender report;
    // 0 before one came.
    qint64 wallClockUs(quint32 timestamp) const;
    void pause();
    void resume();
    // While paused, now and then: keep-alives and receiver reports go on, and their answers are read.
    void keepPaused();

private:
    // Refused: the server refused the credentials (or wanted some and none were given). Unanswerable: it
    // wants credentials in a way this client does not answer.
    enum class Exchange { Answered, Stopped, Lost, TimedOut, Malformed, Refused, Unanswerable };
    // What an exchange that was not answered means for the opening.
    static Opened openedAfter(Exchange failed);
    // A request and its answer, with the server's challenges answered on the way.
    Exchange request(const QByteArray &method, const QByteArray &url, const QByteArray &extraFields,
        Clock::time_point deadline, RtspReader::Message &answer);
    // One request and its answer, whatever its status.
    Exchange transact(const QByteArray &method, const QByteArray &url, const QByteArray &extraFields,
        Clock::time_point deadline, RtspReader::Message &answer);
    void send(const QByteArray &method, const QByteArray &url, const QByteArray &extraFields);
    // Reads what the connection holds into the reader, waiting until deadline for something; answers
    // false when the connection is gone or stopped.
    enum class Pumped { Data, Nothing, Gone };
    Pumped pumpControl(int waitMs);
    // Handles every item the reader holds: frames go to the depacketizer or the sender reports,
    // responses to answer when their sequence number is awaited. Answers false when framing was refused.
    bool drainReader(RtspReader::Message *answer, bool *answered);
    Pumped pumpUdp(int waitMs);
    void takeSenderReport(const QByteArray &packet);
    void keepAlive();
    // On UDP, the receiver report to the server's RTCP port, every few seconds.
    void report();
    // A keep-alive request was answered; a challenge in the answer is taken and the request sent again.
    void keepAliveAnswered(const RtspReader::Message &answer);
    bool stopped() const { return m_stop.load(); }
    // Units completed while paused are older than what the page will see next.
    void dropCompleteUnits();

    const std::atomic<bool> &m_stop;
    std::unique_ptr<QTcpSocket> m_control;
    std::unique_ptr<QUdpSocket> m_rtp; // UDP transport only
    std::unique_ptr<QUdpSocket> m_rtcp;
    quint16 m_serverRtcpPort = 0; // 0: the server named none
    std::unique_ptr<RtcpReceiverReport> m_receiverReport;
    Clock::time_point m_lastReport;
    QHostAddress m_server;
    RtspReader m_reader;
    SdpDescription m_description;
    std::unique_ptr<RtpDepacketizer> m_depacketizer;
    QByteArray m_url; // without credentials
    QByteArray m_controlUrl; // of the whole session (PLAY, PAUSE, TEARDOWN)
    QByteArray m_session;
    RtspAuthenticator m_auth;
    int m_cseq = 0;
    int m_awaitedCseq = -1;
    int m_rtpChannel = 0;
    int m_rtcpChannel = 1;
    bool m_tcp = true;
    bool m_getParameter = false; // the server lists GET_PARAMETER among its methods: keep-alives use it
    std::chrono::milliseconds m_keepAliveEvery { 30000 };
    Clock::time_point m_lastRequest;
    int m_keepAliveCseq = -1; // of the keep-alive whose answer is awaited
    bool m_keepAliveChallenged = false; // the last keep-alive was answered with a challenge and sent again
    // The latest sender report: its NTP time in µs since the epoch, and its RTP timestamp.
    qint64 m_reportWallUs = 0;
    quint32 m_reportTimestamp = 0;
};
