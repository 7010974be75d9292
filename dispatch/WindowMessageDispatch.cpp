#include "dispatch/WindowMessageDispatch.h"

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
    , registry(windowRegistry)
{
    QVector<Command> commands;
    for (const Row &row : kCommands) {
        const Operation operation = row.operation;
        commands.append({QString::fromLatin1(row.word),
            [&registry = registry, operation](const QJsonObject &request) { return (registry.*operation)(request); }});
    }
    setCommands(std::move(commands));
    connect(&registry, &WindowControlManager::sigWindowSelected, this, &WindowMessageDispatch::onMessageProcess);
}

void WindowMessageDispatch::releaseWindow(const QString &uuid)
{
    registry.releaseWindow(uuid);
}
