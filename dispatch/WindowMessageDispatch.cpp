#include "dispatch/WindowMessageDispatch.h"

#include "window/WindowAnswerText.h"
#include "window/WindowControlManager.h"

namespace {

using Operation = QString (WindowControlManager::*)(const QJsonObject &request);

struct Row
{
    const char *word;
    Operation operation;
};

// In the order the words are compared.
const Row kCommands[] = {
    {"createWnd", &WindowControlManager::createWnd},
    {"showWnd", &WindowControlManager::showWnd},
    {"hideWnd", &WindowControlManager::hideWnd},
    {"destroyWnd", &WindowControlManager::destroyWnd},
    {"setWndGeometry", &WindowControlManager::setWndGeometry},
    {"setWndZOrder", &WindowControlManager::setWndZOrder},
    {"setWndCover", &WindowControlManager::setWndCover},
    {"updateParentWnd", &WindowControlManager::updateParentWnd},
    {"getLocalServiceVersion", &WindowControlManager::getLocalServiceVersion},
    {"cuttingPartWindow", &WindowControlManager::cuttingPartWindow},
    {"repairPartWindow", &WindowControlManager::repairPartWindow},
    {"setWindowSelected", &WindowControlManager::setWindowSelected},
};

} // namespace

WindowMessageDispatch::WindowMessageDispatch(WindowControlManager &windowRegistry, QObject *parent)
    : ModuleDispatch(parent)
    , m_registry(windowRegistry)
{
    QVector<Command> commands;
    for (const Row &row : kCommands) {
        const Operation operation = row.operation;
        if (qstrcmp(row.word, "createWnd") == 0) {
            commands.append({QString::fromLatin1(row.word), [this](const QJsonObject &request) { return createWnd(request); }});
            continue;
        }
        commands.append({QString::fromLatin1(row.word),
            [&registry = m_registry, operation](const QJsonObject &request) { return (registry.*operation)(request); }});
    }
    setCommands(std::move(commands));
    connect(&m_registry, &WindowControlManager::sigWindowSelected, this, &WindowMessageDispatch::onMessageProcess);
}

void WindowMessageDispatch::setSessionCheck(SessionCheck check)
{
    m_sessionIsLive = std::move(check);
}

// A window made for no live session would outlive every page: nothing would ever release it.
QString WindowMessageDispatch::createWnd(const QJsonObject &request)
{
    const QString uuid = request.value(QLatin1String("uuid")).toString();
    if (m_sessionIsLive && !m_sessionIsLive(uuid)) {
        return WindowAnswerText::compose(request.value(QLatin1String("sequence")).toString(), uuid,
            WindowControlManager::kErrorModule, kErrorNoLiveSession);
    }
    return m_registry.createWnd(request);
}

void WindowMessageDispatch::releaseWindow(const QString &uuid)
{
    m_registry.releaseWindow(uuid);
}
