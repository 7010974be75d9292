#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

// What the window and the video dispatchers share: a table from command word to handler, the routing of
// a request to its row, and the relay of event texts. A handler takes the parsed request and returns the
// response text, which leaves through messageResponse under the request's "uuid" as an Answer; an event
// text leaves through the same signal as an Event, so that nobody after this has to tell them apart.
class ModuleDispatch : public QObject
{
    Q_OBJECT

public:
    // What a text for a page is: the answer to one of its requests, or an event raised on its own.
    enum class MessageKind { Answer, Event };
    Q_ENUM(MessageKind)

    using Handler = std::function<QString(const QJsonObject &request)>;
    struct Command
    {
        QString name;
        Handler handler;
        bool answersLater = false; // the handler emits messageResponse itself, later; its text is unused
    };

    // The command word of a "cmd": the text between its first and second dot ("" without a dot).
    static QString commandWord(const QString &cmd);

    // Runs the handler named by the command word of a request parsed by the session layer; a word without
    // a row gets no response.
    void dispatchCommand(const QJsonObject &request);

signals:
    void messageResponse(QString strUUID, QString message, ModuleDispatch::MessageKind kind);

public slots:
    // Event texts from the window registry: relayed unchanged under their "uuid"; non-objects dropped.
    void onMessageProcess(QString strResponse);

protected:
    explicit ModuleDispatch(QObject *parent = nullptr);

    // Rows are compared in order, case-sensitively; the first equal name runs.
    void setCommands(QVector<Command> commands);

private:
    QVector<Command> m_commandTable;
};
