#include "window/WindowControl.h"

#include "video/MainWindow.h"
#include "video/WebClientComponents.h"
#include "window/WindowLog.h"

#include <QEvent>

namespace {

// The settle step runs on the sixth 100 ms tick the browser stood still after it moved.
constexpr int kSettleAfterStillTicks = 5;

QString handleText(NativeHandle handle)
{
    return QString::number(qulonglong(handle));
}

} // namespace

const QString WindowControl::kChromeClassName = QStringLiteral("Chrome");

WebClientComponents *WindowControl::createComponent(NativeDesktop &desktop, QWidget *parent, const QString &uuid)
{
    return new WebClientComponents(desktop, parent, uuid);
}

WindowControl::WindowControl(NativeDesktop &desktop, ComponentFactory componentFactory)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint)
    , m_desktop(desktop)
    , m_componentFactory(std::move(componentFactory))
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("WindowControl"));
    resize(400, 300);
    setWindowTitle(tr("WindowControl"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_DeleteOnClose, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setAutoFillBackground(false);
    installEventFilter(this);

    m_hTrayWnd = m_desktop.primaryTaskbar();
    m_hSecondaryTrayWnd = m_desktop.secondaryTaskbar();
    m_hSelfHwnd = NativeHandle(winId()); // creates the native window, still hidden
    m_desktop.watchDestroy(m_hSelfHwnd, [this](NativeHandle) { onNativeDestroy(); });
}

WindowControl::~WindowControl()
{
    m_desktop.unwatchDestroy(m_hSelfHwnd);
    if (m_pComponents) {
        // A taskbar hidden for a browser in full screen must not stay hidden after the window.
        showTaskbars();
        m_pComponents->deleteLater();
    }
}

void WindowControl::setColor(const QString &background, const QString &subBackground, const QString &border,
    const QString &selectBorder)
{
    m_strBackgroundColor = background;
    m_strSubBackgroundColor = subBackground;
    m_strBorderColor = border;
    m_strSelectBorderColor = selectBorder;
    VC_SetWndColor(background, subBackground, border, selectBorder);
}

int WindowControl::init(
    const QString &uuid, const QString &className, bool embed, const QString &parentWnd, bool clientUsed)
{
    m_strUuid = uuid;
    m_bEmbed = embed;
    m_bFillParent = !clientUsed && !parentWnd.isEmpty();
    qCDebug(lcWindow) << "m_bEmbed = " << m_bEmbed;

    m_pComponents = m_componentFactory ? m_componentFactory(m_desktop, this, uuid) : nullptr;
    const int result = m_pComponents ? kInitOk : kInitNoComponent;
    // The registry takes the widget's events itself; only the end of full screen concerns this window.
    if (m_pComponents)
        connect(m_pComponents->mainWindow(), &NEVER_USE_ME::MainWindow::sigQuitedFullScreen, this,
            &WindowControl::onQuitedFullScreen);

    if (!parentWnd.isEmpty()) {
        // A handle named by the page: always a native child of it; embedded unless the page places
        // the window itself.
        if (!clientUsed)
            m_bEmbed = true;
        bool isNumber = false;
        const qulonglong handle = parentWnd.toULongLong(&isNumber, 10);
        m_hParentHwnd = isNumber ? NativeHandle(handle) : 0;
        m_desktop.setParent(m_hSelfHwnd, m_hParentHwnd);
    } else {
        findParentWindow(uuid, className);
    }
    qCDebug(lcWindow) << "m_hParentHwnd = " << handleText(m_hParentHwnd);
    return m_hParentHwnd ? result : kInitNoParent;
}

void WindowControl::findParentWindow(const QString &uuid, const QString &className)
{
    if (!uuid.isEmpty()) {
        m_strClassName = className;
        for (NativeHandle candidate : m_desktop.topLevelWindows()) {
            // This window's own title never names the browser, whatever identifier a page sends.
            if (candidate == m_hSelfHwnd || !matchBrowserWindow(candidate, uuid, className))
                continue;
            m_hParentHwnd = candidate;
            qCDebug(lcWindow) << "enumWindowsProc = " << handleText(candidate);
            if (m_bEmbed)
                m_desktop.setParent(m_hSelfHwnd, candidate);
            break;
        }
    } else {
        m_hParentHwnd = m_desktop.foregroundWindow();
        if (m_hParentHwnd && m_bEmbed)
            m_desktop.setParent(m_hSelfHwnd, m_hParentHwnd);
        qCDebug(lcWindow) << "::GetForegroundWindow = " << handleText(m_hParentHwnd);
    }
    findRenderWindow();
    findD3dHwnd();
}

NativeHandle WindowControl::matchBrowserWindow(
    NativeHandle candidate, const QString &uuid, const QString &className)
{
    const QString title = QString::fromStdU16String(m_desktop.windowTitle(candidate));
    if (!title.contains(uuid, Qt::CaseSensitive))
        return 0;
    if (!className.isEmpty() && className != kChromeClassName
        && QString::fromStdU16String(m_desktop.className(candidate)) != className)
        return 0;
    return candidate;
}

// ---------------------------------------------------------------- placement

void WindowControl::setWindowGeometry(int x, int y, int width, int height, bool resizeVideo)
{
    width = qMax(0, width);
    height = qMax(0, height);
    if (m_bFillParent) {
        x = 0;
        y = 0;
    }

    const NativeRect parentRect = m_desktop.windowRect(m_hParentHwnd);
    const NativeRect parentClient = m_desktop.clientRect(m_hParentHwnd);
    const NativePoint clientOrigin = m_desktop.clientOrigin(m_hParentHwnd);
    qCDebug(lcWindow) << "rcParent " << parentRect.top << "rcParentClient " << parentClient.top << "rcParent "
                      << clientOrigin.y;

    if (m_hRenderHwnd && !m_desktop.isWindow(m_hRenderHwnd))
        m_hRenderHwnd = 0;
    if (!m_hRenderHwnd)
        findRenderWindow();
    const NativeRect renderRect = m_hRenderHwnd ? m_desktop.windowRect(m_hRenderHwnd) : NativeRect {};

    // A new size makes the whole window visible again: the page cuts anew for the new layout.
    if (QSize(width, height) != m_rcWindow.size()) {
        if (const std::optional<NativeRegion> region = m_desktop.windowRegion(m_hSelfHwnd))
            m_desktop.setWindowRegion(
                m_hSelfHwnd, m_desktop.regionUnion(*region, m_desktop.rectRegion({0, 0, width, height})), true);
        qCDebug(lcWindow) << "repairPartWindow";
    }
    m_rcWindow = QRect(x, y, width, height);

    const bool chrome = m_strClassName == kChromeClassName;
    if (!m_bEmbed) {
        x += chrome ? clientOrigin.x : parentRect.left;
        y += chrome ? clientOrigin.y : parentRect.top;
    }
    if (chrome && m_hRenderHwnd) {
        x += renderRect.left - clientOrigin.x;
        y += renderRect.top - clientOrigin.y;
    }
    setGeometry(x, y, width, height);
    // The covers shift the video from (0, 0, width, height); a placement that keeps the video's size
    // (the browser moved) keeps its shift too, instead of shifting it once more on every move.
    if (resizeVideo && m_pComponents) {
        m_pComponents->setGeometry(0, 0, width, height);
        applyCover();
    }
    updateTaskbar(parentRect, renderRect);
}

void WindowControl::setCover(const QString &position, int size)
{
    if (m_bFillParent)
        return;
    int left = m_rcWindow.left();
    int top = m_rcWindow.top();
    int width = m_rcWindow.width();
    int height = m_rcWindow.height();
    if (position == QLatin1String("left")) {
        left += size - m_nCoverLeft;
        width += m_nCoverLeft - size;
        m_nCoverLeft = size;
    } else if (position == QLatin1String("right")) {
        width += m_nCoverRight - size;
        m_nCoverRight = size;
    } else if (position == QLatin1String("top")) {
        top += size - m_nCoverTop;
        height += m_nCoverTop - size;
        m_nCoverTop = size;
    } else if (position == QLatin1String("bottom")) {
        height += m_nCoverBottom - size;
        m_nCoverBottom = size;
    }
    setWindowGeometry(left, top, width, height, true);
}

void WindowControl::applyCover()
{
    if (m_bFillParent || !m_pComponents)
        return;
    const QRect video = m_pComponents->geometry();
    int x = video.x();
    int y = video.y();
    int width = video.width();
    int height = video.height();
    if (m_nCoverLeft > 0) {
        x -= m_nCoverLeft;
        if (x > 0)
            x = 0;
        else
            width += m_nCoverLeft;
    }
    if (m_nCoverRight > 0)
        width += m_nCoverRight;
    if (m_nCoverTop > 0) {
        y -= m_nCoverTop;
        if (y > 0)
            y = 0;
        else
            height += m_nCoverTop;
    }
    if (m_nCoverBottom > 0)
        height += m_nCoverBottom;
    m_pComponents->setGeometry(x, y, width, height);
}

int WindowControl::cover(const QString &position) const
{
    if (position == QLatin1String("left"))
        return m_nCoverLeft;
    if (position == QLatin1String("right"))
        return m_nCoverRight;
    if (position == QLatin1String("top"))
        return m_nCoverTop;
    if (position == QLatin1String("bottom"))
        return m_nCoverBottom;
    return 0;
}

void WindowControl::activateBrowser()
{
    qCDebug(lcWindow).noquote() << m_strUuid + QLatin1String(" Browser Activate");
    m_desktop.placeWindow(m_hParentHwnd, ZOrderPlacement::outOfTopmostBand());
}

bool WindowControl::isFullScreen() const
{
    return m_pComponents && m_pComponents->isFullScreen();
}

// ---------------------------------------------------------------- video commands

QString WindowControl::fullScreen(const QJsonObject &request)
{
    if (!m_pComponents)
        return QString();
    if (m_bEmbed) {
        m_desktop.setParent(m_hSelfHwnd, 0);
        m_desktop.placeWindow(
            m_hSelfHwnd, ZOrderPlacement::intoTopmostBand().shown().withGeometry({0, 0, 0, 0}));
    }
    return m_pComponents->fullScreen(request);
}

void WindowControl::selectWindow(const QJsonObject &request)
{
    if (m_pComponents)
        m_pComponents->selectWindow(request);
}

QString WindowControl::stopAll(const QJsonObject &request)
{
    return m_pComponents ? m_pComponents->stopAll(request) : QString();
}

QString WindowControl::stopAudioPlayback(const QJsonObject &request)
{
    qCDebug(lcWindow) << "WindowControl::stopAudioPlay";
    return WebClientComponents::stopAudioPlayback(request);
}

QString WindowControl::stopAlarmChan(const QJsonObject &request)
{
    return m_pComponents ? WebClientComponents::stopAlarmChan(request) : QString();
}

void WindowControl::onQuitedFullScreen()
{
    qCDebug(lcWindow) << "Quited FullScreen";
    if (m_bEmbed) {
        m_desktop.setParent(m_hSelfHwnd, m_hParentHwnd);
        // Full screen left the native window without a size at the screen's corner, behind Qt's back.
        placeAgain();
    } else
        applyZOrder(false);
}

// ---------------------------------------------------------------- regions

// The shape of a cut or repair: x, y and corner below 0 count as 0; a width or height of 0 or less
// gives an empty shape; the size itself is never reduced.
NativeRect WindowControl::cutRect(int x, int y, int width, int height)
{
    x = qMax(0, x);
    y = qMax(0, y);
    return {x, y, width <= 0 ? x : x + width, height <= 0 ? y : y + height};
}

void WindowControl::cuttingPartWindow(int x, int y, int width, int height, int corner)
{
    const NativeRect shape = cutRect(x, y, width, height);
    corner = qMax(0, corner);
    const std::optional<NativeRegion> region = m_desktop.windowRegion(m_hSelfHwnd);
    const NativeRegion current
        = region ? *region : m_desktop.rectRegion({0, 0, m_rcWindow.width(), m_rcWindow.height()});
    m_desktop.setWindowRegion(m_hSelfHwnd,
        m_desktop.regionDifference(current, m_desktop.roundRectRegion(shape, corner, corner)), true);
    qCDebug(lcWindow) << "cuttingPartWindow" << shape.left << shape.top << shape.right << shape.bottom << corner;
}

void WindowControl::repairPartWindow(int x, int y, int width, int height, int corner)
{
    const NativeRect shape = cutRect(x, y, width, height);
    corner = qMax(0, corner);
    // A window without a region is wholly visible: nothing to add back.
    if (const std::optional<NativeRegion> region = m_desktop.windowRegion(m_hSelfHwnd))
        m_desktop.setWindowRegion(
            m_hSelfHwnd, m_desktop.regionUnion(*region, m_desktop.roundRectRegion(shape, corner, corner)), true);
    qCDebug(lcWindow) << "repairPartWindow" << shape.left << shape.top << shape.right << shape.bottom << corner;
}

// ---------------------------------------------------------------- browser tracking

void WindowControl::followParent()
{
    if (!m_hParentHwnd || !isVisible())
        return;
    // The one query a still browser costs per tick.
    const NativeRect parentRect = m_desktop.windowRect(m_hParentHwnd);
    if (parentRect.left == m_ptParent.x && parentRect.top == m_ptParent.y)
        return;
    m_ptParent = {parentRect.left, parentRect.top};
    setWindowGeometry(m_rcWindow.left(), m_rcWindow.top(), m_rcWindow.width(), m_rcWindow.height(), false);
    applyZOrder(true);
}

void WindowControl::checkForeground()
{
    if (!isVisible())
        return;
    const NativeHandle foreground = m_desktop.foregroundWindow();
    const NativeHandle browserTop = m_hParentHwnd ? m_desktop.outermostAncestor(m_hParentHwnd) : 0;
    if (foreground != m_hParentHwnd && foreground != m_hSelfHwnd && foreground != browserTop) {
        // Another application is in front: stay right above the browser, and leave it the foreground.
        if (m_bEmbed || !setBrowserPrev())
            return;
        if (foreground)
            m_desktop.setForegroundWindow(foreground);
        else
            qCDebug(lcWindow) << "GetForegroundWindow=NULL";
    } else if (!m_bEmbed) {
        applyZOrder(false);
    }
}

bool WindowControl::setBrowserPrev()
{
    const NativeHandle above = m_desktop.windowAbove(m_hParentHwnd);
    if (above == m_hSelfHwnd)
        return false;
    qCDebug(lcWindow) << "Set Browser Prev";
    m_desktop.placeWindow(m_hSelfHwnd, ZOrderPlacement::outOfTopmostBand());
    // Nothing above the browser (or no browser any more): the top of the band is right above it.
    m_desktop.placeWindow(
        m_hSelfHwnd, above ? ZOrderPlacement::directlyAfter(above) : ZOrderPlacement::topOfBand());
    m_bTopMost = false;
    return true;
}

void WindowControl::applyZOrder(bool force)
{
    if (m_bTopMost && !force)
        return;
    m_desktop.placeWindow(m_hSelfHwnd, ZOrderPlacement::outOfTopmostBand());
    if (m_bBrowserFullScreen) {
        m_desktop.placeWindow(m_hSelfHwnd, ZOrderPlacement::intoTopmostBand());
        m_bTopMost = true;
    } else {
        // Just below the taskbar; a desktop without one (an X11 session with no dock) gets the top of
        // the band, which is what placing after no window means on Windows.
        const ZOrderPlacement belowTaskbar
            = m_hTrayWnd ? ZOrderPlacement::directlyAfter(m_hTrayWnd) : ZOrderPlacement::topOfBand();
        m_desktop.placeWindow(m_hSelfHwnd, belowTaskbar.withActivation());
        m_bTopMost = false;
    }
}

void WindowControl::checkBrowserMove()
{
    if (!m_bEmbed || !isVisible())
        return;
    const NativeRect before = m_rcBrowser;
    m_rcBrowser = m_desktop.windowRect(m_hParentHwnd);
    if (trackBrowserMove(m_rcBrowser.left != before.left || m_rcBrowser.top != before.top)
        != BrowserMoveState::Settling)
        return;

    // Settle: resize the native window twice so that it repaints at its place in the moved browser.
    qCDebug(lcWindow) << "checkBrowserMove";
    QRect target = m_rcWindow;
    if (m_strClassName == kChromeClassName && m_hRenderHwnd) {
        if (!m_desktop.isWindow(m_hRenderHwnd)) {
            m_hRenderHwnd = 0;
            findRenderWindow();
        }
        // Without a page-content window there is no content offset (not one of minus the origin).
        if (m_hRenderHwnd) {
            const NativeRect renderRect = m_desktop.windowRect(m_hRenderHwnd);
            const NativePoint clientOrigin = m_desktop.clientOrigin(m_hParentHwnd);
            target.translate(renderRect.left - clientOrigin.x, renderRect.top - clientOrigin.y);
        }
    }
    setGeometry(target.adjusted(0, 0, 1, 1));
    setGeometry(target);
}

WindowControl::BrowserMoveState WindowControl::trackBrowserMove(bool browserMoved)
{
    if (browserMoved) {
        m_nStillTicks = 0;
        m_bBrowserMoving = true;
        return BrowserMoveState::Moving;
    }
    if (!m_bBrowserMoving)
        return BrowserMoveState::Idle;
    if (m_nStillTicks != kSettleAfterStillTicks) {
        ++m_nStillTicks;
        return BrowserMoveState::Moving;
    }
    m_bBrowserMoving = false;
    return BrowserMoveState::Settling;
}

void WindowControl::findRenderWindow()
{
    if (!m_hParentHwnd || m_strClassName != kChromeClassName || m_hRenderHwnd)
        return;
    m_hRenderHwnd = m_desktop.pageContentChild(m_hParentHwnd);
}

void WindowControl::findD3dHwnd()
{
    if (!m_hParentHwnd || m_strClassName != kChromeClassName || !m_bEmbed)
        return;
    const NativeHandle compositor = m_desktop.compositorChild(m_hParentHwnd);
    if (!compositor)
        return;
    m_hD3dHwnd = compositor;
    qCDebug(lcWindow) << "findD3dHwnd" << handleText(compositor);
    // The compositor paints around the plug-in window instead of over it.
    m_desktop.addClipSiblings(compositor);
}

void WindowControl::updateTaskbar(const NativeRect &parentRect, const NativeRect &renderRect)
{
    const std::optional<NativeMonitor> monitor = m_desktop.monitorNearestWindow(m_hParentHwnd);
    if (!monitor)
        return;
    const bool chrome = m_strClassName == kChromeClassName;
    m_bBrowserFullScreen = (monitor->rect.height() == parentRect.height() || monitor->rect.width() == parentRect.width())
        && renderRect.top == parentRect.top;
    if (m_bBrowserFullScreen) {
        if (monitor->primary) {
            if (m_hTrayWnd && m_desktop.isVisible(m_hTrayWnd) && chrome) {
                m_desktop.showWindow(m_hTrayWnd, false);
                m_desktop.showWindow(m_desktop.startButton(), false);
            }
        } else if (m_hSecondaryTrayWnd && m_desktop.isVisible(m_hSecondaryTrayWnd) && chrome) {
            m_desktop.showWindow(m_hSecondaryTrayWnd, false);
        }
        return;
    }
    if (monitor->primary) {
        if (m_hTrayWnd && !m_desktop.isVisible(m_hTrayWnd)) {
            m_desktop.showWindow(m_hTrayWnd, true);
            m_desktop.showWindow(m_desktop.startButton(), true);
        }
    } else if (m_hSecondaryTrayWnd && !m_desktop.isVisible(m_hSecondaryTrayWnd)) {
        m_desktop.showWindow(m_hSecondaryTrayWnd, true);
    }
}

void WindowControl::showTaskbars()
{
    if (m_hTrayWnd && !m_desktop.isVisible(m_hTrayWnd)) {
        m_desktop.showWindow(m_hTrayWnd, true);
        m_desktop.showWindow(m_desktop.startButton(), true);
    }
    if (m_hSecondaryTrayWnd && !m_desktop.isVisible(m_hSecondaryTrayWnd))
        m_desktop.showWindow(m_hSecondaryTrayWnd, true);
}

void WindowControl::updateParentWnd()
{
    const NativeHandle before = m_hParentHwnd;
    m_hParentHwnd = m_desktop.foregroundWindow();
    qCDebug(lcWindow) << "updateParentWnd hParentWnd = " << handleText(m_hParentHwnd);
    // A browser destroyed under this window may hand its handle on to the next window made (an X
    // server reuses a departed client's identifiers at once): that is a new parent all the same.
    m_bParentChange = m_hParentHwnd != before || m_bHiddenByParent;
    if (m_bParentChange && m_bEmbed) {
        m_desktop.setParent(m_hSelfHwnd, m_hParentHwnd);
        if (m_bHiddenByParent) {
            m_bHiddenByParent = false;
            show();
        }
        // The native window may have been made anew at a place Qt does not know of.
        placeAgain();
        findD3dHwnd();
    }
    qCDebug(lcWindow) << "updateParentWnd m_bParentChange = " << m_bParentChange;
}

void WindowControl::placeAgain()
{
    // A step aside first, so that Qt applies the page's place even when it believes the window is there.
    setGeometry(geometry().adjusted(0, 0, 1, 1));
    setWindowGeometry(m_rcWindow.left(), m_rcWindow.top(), m_rcWindow.width(), m_rcWindow.height(), false);
}

void WindowControl::onNativeDestroy()
{
    if (!m_bEmbed)
        return;
    // Read before the window leaves its dead parent: a native window made anew on the way starts hidden.
    const bool wasVisible = isVisible();
    m_desktop.setParent(m_hSelfHwnd, 0);
    if (wasVisible) {
        m_bHiddenByParent = true;
        hide();
    }
    // The desktop drops an observer once it told it; this window lives on and wants to hear again.
    m_desktop.watchDestroy(m_hSelfHwnd, [this](NativeHandle) { onNativeDestroy(); });
}

// ---------------------------------------------------------------- events

bool WindowControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this) {
        if (event->type() == QEvent::WindowActivate)
            qCDebug(lcWindow) << "WindowActivate";
        else if (event->type() == QEvent::WindowDeactivate)
            qCDebug(lcWindow) << "WindowDeactivate";
    }
    return QWidget::eventFilter(watched, event);
}

bool WindowControl::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    // The desktop layer tells this window's destroy observer (onNativeDestroy) of a destruction.
    if (m_desktop.handleNativeMessage(eventType.constData(), message)) {
        if (result)
            *result = 0;
        return true;
    }
    return QWidget::nativeEvent(eventType, message, result);
}
