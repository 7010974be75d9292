#include "dispatch/ModuleDispatch.h"

#include "base/JsonText.h"

#include <QJsonDocument>
#include <QJsonObject>

ModuleDispatch::ModuleDispatch(QObject *parent)
    : QObject(parent)
{
}

QString ModuleDispatch::commandWord(const QString &cmd)
{
    return cmd.section(QLatin1Char('.'), 1, 1);
}

void ModuleDispatch::setCommands(QVector<Command> commands)
{
    m_commandTable = std::move(commands);
}

void ModuleDispatch::dispatchCommand(const QJsonObject &object)
{
    const QString word = commandWord(object.value(QLatin1String("cmd")).toString());
    for (const Command &command : qAsConst(m_commandTable)) {
        if (command.name == word) {
            if (command.answersLater) {
                command.handler(object);
                return;
            }
            const QString response = command.handler(object);
            emit messageResponse(object.value(QLatin1String("uuid")).toString(), response, MessageKind::Answer);
            return;
        }
    }
}

void ModuleDispatch::onMessageProcess(QString strResponse)
{
    QJsonObject object;
    if (!Base::parseJsonObject(strResponse, &object))
        return;
    emit messageResponse(object.value(QLatin1String("uuid")).toString(), strResponse, MessageKind::Event);
}
