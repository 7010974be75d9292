#include "standins/video_control/RtspClient.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>

namespace {

using std::chrono::milliseconds;

constexpr int kWaitSliceMs = 20; // the longest a wait goes without looking at the stop flag
constexpr int kReadChunkBytes = 64 * 1024; // taken from the connection per wait, then read into items
constexpr qint64 kControlBufferBytes = 1024 * 1024; // the connection's own read buffer
constexpr int kUdpBufferBytes = 4 * 1024 * 1024; // the system's receive buffer: a 1080p key frame's burst fits
constexpr int kMaxDatagramsPerWait = 256; // read per wait before the stop flag and the deadline are looked at
constexpr int kPortAttempts = 16; // tries to find an even local port with a free one above it for RTCP
constexpr milliseconds kPauseAnswerWait { 2000 };
// Keep-alives go at half the session's timeout (60 s when the server states none or a value that is
// no number of seconds), never more often than each second nor less often than each 30 s.
constexpr int kDefaultSessionTimeoutS = 60;
constexpr milliseconds kMinKeepAlive { 1000 };
constexpr milliseconds kMaxKeepAlive { 30000 };
constexpr qint64 kNtpToUnixSeconds = 2208988800LL;
constexpr milliseconds kReportEvery { 5000 }; // RFC 3550's minimum interval between RTCP reports

int waitMsUntil(RtspClient::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - RtspClient::Clock::now()).count();
    return int(std::clamp<qint64>(left, 0, kWaitSliceMs));
}

// A control attribute against the base address: absolute, "*" (the base itself), or relative (appended
// after a slash, as servers expect, whether or not the base ends with one).
QByteArray resolveControl(const QByteArray &base, const QByteArray &control)
{
    if (control.isEmpty() || control == "*")
        return base;
    if (control.toLower().startsWith("rtsp://") || control.toLower().startsWith("rtsps://"))
        return control;
    return base.endsWith('/') ? base + control : base + '/' + control;
}

// "key=value" of a Transport or Session field's parameters ("a;b=c;d=e").
QByteArray parameterOf(const QByteArray &field, const QByteArray &key)
{
    for (const QByteArray &part : field.split(';')) {
        const QByteArray trimmed = part.trimmed();
        if (trimmed.toLower().startsWith(key + '='))
            return trimmed.mid(key.size() + 1);
    }
    return {};
}

// The methods of a Public field ("OPTIONS, DESCRIBE, ...") include method.
bool listsMethod(const QByteArray &field, const QByteArray &method)
{
    for (const QByteArray &listed : field.split(',')) {
        if (listed.trimmed().toUpper() == method)
            return true;
    }
    return false;
}

// A user name or password from a URL, its percent escapes undone as bytes.
QByteArray urlCredential(const QString &encoded)
{
    return QByteArray::fromPercentEncoding(encoded.toUtf8());
}

} // namespace

RtspClient::RtspClient(const std::atomic<bool> &stop)
    : m_stop(stop)
{
}

RtspClient::~RtspClient()
{
    if (m_control && m_control->state() == QAbstractSocket::ConnectedState && !m_session.isEmpty()) {
        send("TEARDOWN", m_controlUrl, {});
        m_control->flush();
    }
    if (m_control)
        m_control->abort();
}

RtspClient::Opened RtspClient::openedAfter(Exchange failed)
{
    switch (failed) {
    case Exchange::Stopped:
        return Opened::Stopped;
    case Exchange::TimedOut:
        return Opened::Unreachable;
    case Exchange::Malformed:
        return Opened::Malformed;
    case Exchange::Refused:
        return Opened::Unauthorized;
    case Exchange::Answered: // not a failure: callers go on instead
    case Exchange::Lost:
    case Exchange::Unanswerable:
        break;
    }
    // A server that closes on this client, or wants credentials another way, may still take FFmpeg's.
    return Opened::NotTaken;
}

RtspClient::Opened RtspClient::open(const QUrl &url, const QHostAddress &address, bool tcp, const QString &user,
    const QString &password, Clock::time_point deadline)
{
    m_tcp = tcp;
    m_server = address;
    if (!url.userName().isEmpty())
        m_auth = RtspAuthenticator(urlCredential(url.userName(QUrl::FullyEncoded)), urlCredential(url.password(QUrl::FullyEncoded)));
    else
        m_auth = RtspAuthenticator(user.toUtf8(), password.toUtf8());
    QUrl plain = url;
    plain.setUserInfo(QString());
    m_url = plain.toString(QUrl::FullyEncoded).toUtf8();
    m_control = std::make_unique<QTcpSocket>();
    m_control->setReadBufferSize(kControlBufferBytes);
    m_control->connectToHost(address, quint16(url.port(554)));
    while (!m_control->waitForConnected(waitMsUntil(deadline))) {
        if (stopped())
            return Opened::Stopped;
        // Refused at the first address looked up: FFmpeg's client tries every address of the name.
        if (m_control->state() == QAbstractSocket::UnconnectedState)
            return Opened::NotTaken;
        if (Clock::now() >= deadline)
            return Opened::Unreachable;
    }
    m_control->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    // OPTIONS first, as clients do: some servers answer nothing else before it.
    RtspReader::Message answer;
    if (const Exchange exchange = request("OPTIONS", m_url, {}, deadline, answer); exchange != Exchange::Answered)
        return openedAfter(exchange);
    if (answer.status != 200)
        return Opened::NotTaken;
    m_getParameter = listsMethod(answer.field("public"), "GET_PARAMETER");
    if (const Exchange exchange = request("DESCRIBE", m_url, "Accept: application/sdp\r\n", deadline, answer); exchange != Exchange::Answered)
        return openedAfter(exchange);
    if (answer.status == 404)
        return Opened::NotFound;
    if (answer.status != 200 || !m_description.parse(answer.body))
        return Opened::NotTaken; // another address, another codec: the other way knows them
    QByteArray base = answer.field("content-base");
    if (base.isEmpty())
        base = answer.field("content-location");
    if (base.isEmpty())
        base = m_url;
    m_controlUrl = resolveControl(base, m_description.sessionControl);
    m_depacketizer = std::make_unique<RtpDepacketizer>(
        m_description.codec == SdpDescription::Codec::H264 ? RtpDepacketizer::Codec::H264 : RtpDepacketizer::Codec::H265,
        m_description.payloadType);

    QByteArray transport;
    if (tcp) {
        transport = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
    } else {
        m_rtp = std::make_unique<QUdpSocket>();
        m_rtcp = std::make_unique<QUdpSocket>();
        bool bound = false;
        for (int attempt = 0; attempt < kPortAttempts && !bound; ++attempt) {
            m_rtp->close();
            m_rtcp->close();
            bound = m_rtp->bind(QHostAddress(QHostAddress::Any), 0) && (m_rtp->localPort() % 2) == 0 && m_rtp->localPort() < 65535
                && m_rtcp->bind(QHostAddress(QHostAddress::Any), quint16(m_rtp->localPort() + 1));
        }
        if (!bound)
            return Opened::NotTaken;
        // The CNAME is random (RFC 7022): it says nothing about this machine.
        QRandomGenerator *random = QRandomGenerator::system();
        m_receiverReport = std::make_unique<RtcpReceiverReport>(random->generate(),
            "ls-" + QByteArray::number(random->generate64(), 16));
        m_rtp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kUdpBufferBytes);
        transport = "Transport: RTP/AVP;unicast;client_port=" + QByteArray::number(m_rtp->localPort()) + '-'
            + QByteArray::number(m_rtcp->localPort()) + "\r\n";
    }
    if (const Exchange exchange = request("SETUP", resolveControl(base, m_description.control), transport, deadline, answer); exchange != Exchange::Answered)
        return openedAfter(exchange);
    const QByteArray session = answer.field("session");
    const QByteArray granted = answer.field("transport");
    if (answer.status != 200 || session.isEmpty() || granted.toUpper().contains("/TCP") != tcp)
        return Opened::NotTaken;
    m_session = session.split(';').first().trimmed();
    bool statesTimeout = false;
    int timeoutSeconds = parameterOf(session, "timeout").toInt(&statesTimeout);
    if (!statesTimeout || timeoutSeconds <= 0)
        timeoutSeconds = kDefaultSessionTimeoutS;
    m_keepAliveEvery = std::clamp<milliseconds>(milliseconds(timeoutSeconds * 500LL), kMinKeepAlive, kMaxKeepAlive);
    if (!tcp) {
        // server_port=rtp-rtcp; a server that names one port sends RTCP from the one above it.
        const QList<QByteArray> ports = parameterOf(granted, "server_port").split('-');
        bool ok = false;
        const int rtcp = ports.size() > 1 ? ports.at(1).toInt(&ok) : ports.first().toInt(&ok) + 1;
        if (ok && rtcp > 0 && rtcp <= 65535)
            m_serverRtcpPort = quint16(rtcp);
    }
    if (tcp) {
        const QList<QByteArray> channels = parameterOf(granted, "interleaved").split('-');
        if (!channels.first().isEmpty()) {
            bool ok = false;
            m_rtpChannel = channels.first().toInt(&ok);
            m_rtcpChannel = ok && channels.size() > 1 ? channels.at(1).toInt() : m_rtpChannel + 1;
            if (!ok)
                return Opened::NotTaken;
        }
    }

    if (const Exchange exchange = request("PLAY", m_controlUrl, "Range: npt=0.000-\r\n", deadline, answer); exchange != Exchange::Answered)
        return openedAfter(exchange);
    if (answer.status != 200)
        return Opened::NotTaken;
    return Opened::Ready;
}

void RtspClient::send(const QByteArray &method, const QByteArray &url, const QByteArray &extraFields)
{
    QByteArray text = method + ' ' + url + " RTSP/1.0\r\nCSeq: " + QByteArray::number(++m_cseq) + "\r\n";
    if (!m_session.isEmpty())
        text += "Session: " + m_session + "\r\n";
    text += m_auth.authorization(method, url);
    text += "User-Agent: LocalService\r\n" + extraFields + "\r\n";
    m_control->write(text);
    m_control->flush();
    m_lastRequest = Clock::now();
}

RtspClient::Exchange RtspClient::request(const QByteArray &method, const QByteArray &url,
    const QByteArray &extraFields, Clock::time_point deadline, RtspReader::Message &answer)
{
    bool challengeAnswered = false;
    bool staleAnswered = false;
    for (;;) {
        if (const Exchange exchange = transact(method, url, extraFields, deadline, answer); exchange != Exchange::Answered)
            return exchange;
        if (answer.status == 403)
            return Exchange::Refused;
        if (answer.status != 401)
            return Exchange::Answered;
        if (!m_auth.canAnswer())
            return Exchange::Refused;
        switch (m_auth.take(answer.fields)) {
        case RtspAuthenticator::Taken::Answer:
            break;
        case RtspAuthenticator::Taken::Unsupported:
            return Exchange::Unanswerable;
        case RtspAuthenticator::Taken::Malformed:
            return Exchange::Malformed;
        }
        // Each request answers one challenge; a second only when the server says the nonce had gone
        // stale (the credentials were right). Any further 401 is a refusal.
        if (!challengeAnswered)
            challengeAnswered = true;
        else if (m_auth.stale() && !staleAnswered)
            staleAnswered = true;
        else
            return Exchange::Refused;
    }
}

RtspClient::Exchange RtspClient::transact(const QByteArray &method, const QByteArray &url,
    const QByteArray &extraFields, Clock::time_point deadline, RtspReader::Message &answer)
{
    send(method, url, extraFields);
    m_awaitedCseq = m_cseq;
    for (;;) {
        bool answered = false;
        if (!drainReader(&answer, &answered))
            return Exchange::Malformed;
        if (answered)
            return Exchange::Answered;
        if (stopped())
            return Exchange::Stopped;
        if (Clock::now() >= deadline)
            return Exchange::TimedOut;
        if (pumpControl(waitMsUntil(deadline)) == Pumped::Gone)
            return stopped() ? Exchange::Stopped : Exchange::Lost;
    }
}

RtspClient::Pumped RtspClient::pumpControl(int waitMs)
{
    if (m_control->bytesAvailable() == 0 && !m_control->waitForReadyRead(waitMs))
        return m_control->state() == QAbstractSocket::ConnectedState ? Pumped::Nothing : Pumped::Gone;
    char chunk[4096];
    qint64 taken = 0;
    while (taken < kReadChunkBytes) {
        const qint64 count = m_control->read(chunk, sizeof chunk);
        if (count <= 0)
            break;
        m_reader.append(chunk, int(count));
        taken += count;
    }
    return taken > 0 ? Pumped::Data : Pumped::Nothing;
}

bool RtspClient::drainReader(RtspReader::Message *answer, bool *answered)
{
    RtspReader::Message message;
    RtspReader::Frame frame;
    for (;;) {
        switch (m_reader.next(message, frame)) {
        case RtspReader::Item::NeedMore:
            return true;
        case RtspReader::Item::Refused:
            return false;
        case RtspReader::Item::Frame:
            if (m_depacketizer && frame.channel == m_rtpChannel)
                m_depacketizer->push(frame.data.constData(), frame.data.size());
            else if (frame.channel == m_rtcpChannel)
                takeSenderReport(frame.data);
            break;
        case RtspReader::Item::Message: {
            // The server's own requests are read and left.
            const int cseq = message.status != 0 ? message.field("cseq").toInt() : -1;
            if (answer && cseq == m_awaitedCseq) {
                m_awaitedCseq = -1;
                *answer = std::move(message);
                *answered = true;
                return true;
            }
            if (m_keepAliveCseq >= 0 && cseq == m_keepAliveCseq) {
                m_keepAliveCseq = -1;
                keepAliveAnswered(message);
            }
            break;
        }
        }
    }
}

RtspClient::Pumped RtspClient::pumpUdp(int waitMs)
{
    if (!m_rtp->hasPendingDatagrams() && !m_rtp->waitForReadyRead(waitMs))
        return Pumped::Nothing;
    const QHostAddress server(m_server.toIPv4Address() ? QHostAddress(m_server.toIPv4Address()) : m_server);
    const auto fromServer = [&server](const QNetworkDatagram &datagram) {
        return datagram.senderAddress().isEqual(server, QHostAddress::ConvertV4MappedToIPv4);
    };
    for (int i = 0; i < kMaxDatagramsPerWait && m_rtp->hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = m_rtp->receiveDatagram(RtpDepacketizer::kMaxPacketBytes);
        if (fromServer(datagram)) {
            m_receiverReport->packetArrived(datagram.data().constData(), datagram.data().size(), m_description.clockRate, Clock::now());
            m_depacketizer->push(datagram.data().constData(), datagram.data().size());
        }
    }
    for (int i = 0; i < kMaxDatagramsPerWait && m_rtcp->hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = m_rtcp->receiveDatagram(RtpDepacketizer::kMaxPacketBytes);
        if (fromServer(datagram))
            takeSenderReport(datagram.data());
    }
    return Pumped::Data;
}

RtspClient::Read RtspClient::read(AccessUnit &unit, Clock::time_point deadline)
{
    for (;;) {
        if (m_depacketizer->next(unit))
            return Read::Unit;
        if (stopped())
            return Read::Stopped;
        if (Clock::now() >= deadline)
            return Read::Silent;
        keepAlive();
        if (m_tcp) {
            if (!drainReader(nullptr, nullptr))
                return Read::Lost;
            if (m_depacketizer->next(unit))
                return Read::Unit;
            if (pumpControl(waitMsUntil(deadline)) == Pumped::Gone)
                return stopped() ? Read::Stopped : Read::Lost;
        } else {
            report();
            pumpUdp(waitMsUntil(deadline));
            // The connection stays open beside the datagrams: a server that closes it has ended the session.
            if (pumpControl(0) == Pumped::Gone || !drainReader(nullptr, nullptr))
                return stopped() ? Read::Stopped : Read::Lost;
        }
    }
}

// The server ends a session that has not heard from the client for its timeout (RFC 2326 12.37); any
// request in the session counts. GET_PARAMETER without a body is the usual one, OPTIONS for servers
// that do not list it.
void RtspClient::keepAlive()
{
    if (m_session.isEmpty() || Clock::now() - m_lastRequest < m_keepAliveEvery)
        return;
    if (m_getParameter)
        send("GET_PARAMETER", m_controlUrl, {});
    else
        send("OPTIONS", m_url, {});
    m_keepAliveCseq = m_cseq;
}

// A nonce can go stale while the stream plays: the keep-alive is sent again at once with the new one,
// once; a server that challenges that too is left to end the session.
void RtspClient::keepAliveAnswered(const RtspReader::Message &answer)
{
    const bool challenged = answer.status == 401 && !m_keepAliveChallenged && m_auth.canAnswer()
        && m_auth.take(answer.fields) == RtspAuthenticator::Taken::Answer;
    m_keepAliveChallenged = challenged;
    if (challenged)
        m_lastRequest = Clock::time_point();
}

void RtspClient::report()
{
    const Clock::time_point now = Clock::now();
    if (m_session.isEmpty() || m_serverRtcpPort == 0 || now - m_lastReport < kReportEvery)
        return;
    const QByteArray compound = m_receiverReport->compound(now);
    if (compound.isEmpty())
        return;
    m_rtcp->writeDatagram(compound, m_server, m_serverRtcpPort);
    m_lastReport = now;
}

// RTCP (RFC 3550 6.4.1): a compound packet of reports, each V=2, P, count, PT, length in words - 1; a
// sender report (PT 200) holds SSRC, NTP time (seconds since 1900, fraction) and the RTP timestamp
// of the same instant.
void RtspClient::takeSenderReport(const QByteArray &packet)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(packet.constData());
    int at = 0;
    while (at + 4 <= packet.size()) {
        const int length = 4 * (((bytes[at + 2] << 8) | bytes[at + 3]) + 1);
        if ((bytes[at] >> 6) != 2 || at + length > packet.size())
            return;
        if (bytes[at + 1] == 200 && length >= 28) {
            const auto word = [bytes](int offset) {
                return quint32(bytes[offset]) << 24 | quint32(bytes[offset + 1]) << 16 | quint32(bytes[offset + 2]) << 8
                    | bytes[offset + 3];
            };
            const qint64 seconds = qint64(word(at + 8)) - kNtpToUnixSeconds;
            const qint64 fraction = (qint64(word(at + 12)) * 1000000) >> 32;
            m_reportWallUs = seconds * 1000000 + fraction;
            m_reportTimestamp = word(at + 16);
            if (m_receiverReport)
                m_receiverReport->senderReportArrived(word(at + 8) << 16 | word(at + 12) >> 16, Clock::now());
        }
        at += length;
    }
}

qint64 RtspClient::wallClockUs(quint32 timestamp) const
{
    if (m_reportWallUs <= 0 || m_description.clockRate <= 0)
        return 0;
    const qint32 ticks = qint32(timestamp - m_reportTimestamp);
    return m_reportWallUs + qint64(ticks) * 1000000 / m_description.clockRate;
}

void RtspClient::pause()
{
    RtspReader::Message answer;
    request("PAUSE", m_controlUrl, {}, Clock::now() + kPauseAnswerWait, answer);
}

// A paused session is still a session: the server ends it when it hears nothing for its timeout, however
// long the page keeps the picture still. What a server sends despite PAUSE is read and dropped.
void RtspClient::keepPaused()
{
    keepAlive();
    if (!m_tcp) {
        report();
        pumpUdp(0);
    }
    if (pumpControl(0) != Pumped::Gone)
        drainReader(nullptr, nullptr);
    dropCompleteUnits();
}

void RtspClient::dropCompleteUnits()
{
    AccessUnit dropped;
    while (m_depacketizer && m_depacketizer->next(dropped)) {
    }
}

void RtspClient::resume()
{
    // What came on the datagram sockets while paused is older than the pause: it is not shown.
    for (QUdpSocket *socket : { m_rtp.get(), m_rtcp.get() }) {
        for (int i = 0; socket && i < kMaxDatagramsPerWait && socket->hasPendingDatagrams(); ++i)
            socket->receiveDatagram(0);
    }
    RtspReader::Message answer;
    request("PLAY", m_controlUrl, {}, Clock::now() + kPauseAnswerWait, answer);
    dropCompleteUnits();
    m_depacketizer->restart();
}
