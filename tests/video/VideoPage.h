#pragma once
// A page of the end-to-end video tests: its commands and events, over WebSocket or another road.
#include "../service/RawWebSocketClient.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>

#include <functional>

namespace VideoPages {

constexpr int kEventWaitMs = 5000; // the library raises stream events every 500 ms

inline QJsonObject parse(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

inline QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline QJsonObject createWnd(const QString &uuid)
{
    return { { "cmd", "window.createWnd" }, { "uuid", uuid }, { "sequence", "c" }, { "parentWnd", "4242" },
        { "bClientUsed", false },
        { "rect", QJsonObject { { "left", 0 }, { "top", 0 }, { "width", 640 }, { "height", 360 } } } };
}

inline QJsonObject command(const char *cmd, const QString &uuid, const char *sequence, QJsonObject members = {})
{
    members.insert("cmd", QLatin1String(cmd));
    members.insert("uuid", uuid);
    members.insert("sequence", QLatin1String(sequence));
    return members;
}

inline bool isStreamEventOf(const QJsonObject &event, const QString &uuid)
{
    return event.value("cmd") == QLatin1String("window.onPluginEventHandler") && event.value("uuid") == uuid;
}

// One page: sends a command and takes its answer, and waits for events, over its own road.
class Page
{
public:
    virtual ~Page() = default;
    virtual QString connect() = 0;
    // The answer to the command whose "sequence" is the request's, skipping events meanwhile.
    virtual QJsonObject ask(const QJsonObject &request) = 0;
    // Waits until an event satisfies accept.
    virtual bool waitForEvent(const std::function<bool(const QJsonObject &)> &accept, int timeoutMs) = 0;
};

class WebSocketPage : public Page
{
public:
    explicit WebSocketPage(quint16 servicePort)
        : port(servicePort)
    {
    }

    QString connect() override
    {
        if (!client.open(port))
            return QString();
        client.sendText(R"({"cmd":"system.webconnect"})");
        return parse(client.readText()).value("uuid").toString();
    }

    QJsonObject ask(const QJsonObject &request) override
    {
        client.sendText(json(request));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kEventWaitMs) {
            const QByteArray text = client.readText(kEventWaitMs);
            const QJsonObject answer = parse(text);
            if (answer.value("sequence") == request.value("sequence"))
                return answer;
            heard.append(answer);
        }
        return {};
    }

    bool waitForEvent(const std::function<bool(const QJsonObject &)> &accept, int timeoutMs) override
    {
        for (const QJsonObject &event : qAsConst(heard)) {
            if (accept(event))
                return true;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            const QJsonObject event = parse(client.readText(timeoutMs));
            heard.append(event);
            if (accept(event))
                return true;
        }
        return false;
    }

    // The connection, for commands whose answers are not waited for.
    RawWebSocketClient &raw() { return client; }
    // The texts heard while waiting for answers and events.
    const QVector<QJsonObject> &heardSoFar() const { return heard; }

    // Every text heard for as long as ms.
    QVector<QJsonObject> listen(int ms)
    {
        QVector<QJsonObject> texts;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            const QByteArray text = client.readText(int(ms - clock.elapsed()));
            if (!text.isNull())
                texts.append(parse(text));
        }
        return texts;
    }

private:
    quint16 port;
    RawWebSocketClient client;
    QVector<QJsonObject> heard;
};

} // namespace VideoPages
