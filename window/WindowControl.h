#pragma once

#include "platform/NativeDesktop.h"

#include <QJsonObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class WebClientComponents;

// One page's plug-in window: a frameless tool window that either becomes a native child of the browser
// window (embedded) or stays top-level and is kept over the browser by the registry's timers. It holds
// the page's video component, places it over the page rectangle, cuts the parts of itself that page
// elements cover. The events of its video widget go to the registry without passing through it.
//
// Page coordinates: for an embedded window they are relative to the parent's client area, for a
// top-level one to the parent's window rectangle; with the class name "Chrome" both are relative to the
// browser's page-content child window when it has one.
class WindowControl : public QWidget
{
    Q_OBJECT

public:
    // The answers of init.
    static constexpr int kInitOk = 0;
    static constexpr int kInitNoComponent = 5000;
    static constexpr int kInitNoParent = 5001;

    // The class name that switches on the rules for Chrome's child windows and full screen.
    static const QString kChromeClassName;

    // Makes a window's video component (the window's desktop, parent widget, session identifier); null
    // when it cannot.
    using ComponentFactory
        = std::function<WebClientComponents *(NativeDesktop &desktop, QWidget *parent, const QString &uuid)>;
    static WebClientComponents *createComponent(NativeDesktop &desktop, QWidget *parent, const QString &uuid);

    // Hidden, unattached, with its native window created; init makes the component with the factory.
    explicit WindowControl(NativeDesktop &desktop, ComponentFactory componentFactory = &createComponent);
    ~WindowControl() override;

    // The colours of the video grid, a setting of the video library as a whole.
    void setColor(const QString &background, const QString &subBackground, const QString &border,
        const QString &selectBorder);
    // Creates the component and attaches the window: to the window named by parentWnd (a decimal
    // handle), else to the browser window whose title holds uuid. Answers kInitOk, kInitNoComponent or
    // kInitNoParent (the window then stays hidden and unattached).
    int init(const QString &uuid, const QString &className, bool embed, const QString &parentWnd,
        bool clientUsed);
    void findParentWindow(const QString &uuid, const QString &className);
    // The candidate when its title holds uuid (and, for a class name other than "" and "Chrome", its
    // class name equals className); 0 otherwise.
    NativeHandle matchBrowserWindow(NativeHandle candidate, const QString &uuid, const QString &className);

    // Places the window over the page rectangle (page coordinates; negative sizes count as 0).
    void setWindowGeometry(int x, int y, int width, int height, bool resizeVideo);
    // Records that size pixels of the page rectangle are hidden on one side ("left", "right", "top",
    // "bottom") and shrinks the window there; any other position only re-places the window.
    void setCover(const QString &position, int size);
    // Shifts and enlarges the video widget so that the covered parts of the page rectangle lie outside
    // the window.
    void applyCover();
    // Takes the browser window out of the topmost band.
    void activateBrowser();

    bool isFullScreen() const; // the video widget is full screen
    bool embedded() const { return m_bEmbed; }
    NativeHandle parentHandle() const { return m_hParentHwnd; }
    NativeHandle selfHandle() const { return m_hSelfHwnd; }
    QRect windowRect() const { return m_rcWindow; }
    bool browserFullScreen() const { return m_bBrowserFullScreen; }
    bool topMost() const { return m_bTopMost; }
    int cover(const QString &position) const;
    WebClientComponents *components() const { return m_pComponents; }
    // background, sub-background, border, selected border, as setColor took them
    QStringList colours() const
    {
        return {m_strBackgroundColor, m_strSubBackgroundColor, m_strBorderColor, m_strSelectBorderColor};
    }

    // --- video commands whose work is the window's own (the others run on its component)
    // Detached from the browser, topmost and shown at (0, 0, 0, 0), then the component's full screen.
    QString fullScreen(const QJsonObject &request);
    // The library's cell selection; it answers nothing.
    void selectWindow(const QJsonObject &request);
    // What a window's teardown stops, in this order; their answers are of no use to anyone.
    QString stopAll(const QJsonObject &request);
    QString stopAudioPlayback(const QJsonObject &request);
    QString stopAlarmChan(const QJsonObject &request);

    // --- regions: the shape is (x, y, width, height) with elliptic corners of size corner
    void cuttingPartWindow(int x, int y, int width, int height, int corner);
    void repairPartWindow(int x, int y, int width, int height, int corner);

    // --- browser tracking, run by the registry's timers
    // 15 ms, top-level windows: follows the browser when its left or top changed.
    void followParent();
    // 100 ms: keeps a top-level window just above the browser without taking the foreground.
    void checkForeground();
    // 100 ms: re-places an embedded window once the browser stood still for six ticks after a move.
    void checkBrowserMove();
    // Puts the window right above the browser; answers whether it moved it.
    bool setBrowserPrev();
    // Just below the taskbar, or into the topmost band while the browser is full screen; without force
    // a window already in the topmost band stays.
    void applyZOrder(bool force);
    void findRenderWindow();
    void findD3dHwnd();
    // Hides the monitor's taskbar for Chrome in full screen and shows it again after.
    // parentRect: the browser window; renderRect: its page-content child (empty when there is none).
    void updateTaskbar(const NativeRect &parentRect, const NativeRect &renderRect);
    // Makes the foreground window the parent, as after the browser window was replaced.
    void updateParentWnd();
    bool parentChanged() const { return m_bParentChange; }
    bool hiddenByParent() const { return m_bHiddenByParent; }

signals:
    // The window's event signals, under the names the whole event chain shares. The registry connects the
    // video widget's signals to its own directly, so these are not emitted.
    void sigWindowSelected(QString strRet);
    void sigDrawEnd(QString strRet);
    void sigNetStreamEvent(QString strRet);
    void sigFisheyePTZEvent(QString strRet);
    void sigMouseEvent(QString strRet);
    void sigFullScreenChange(QString strRet);
    void sigVoiceInfo(QString strRet);
    void sigAudioInfoEvent(QString strRet);
    void sigUploadAlarmInfo(QString strRet);
    void sigHttpInfo(QString strRet);

public slots:
    // The video widget left full screen: back into the browser (embedded) or above it (top-level).
    void onQuitedFullScreen();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;

private:
    // Move tracking of an embedded window's browser, one transition per 100 ms tick.
    enum class BrowserMoveState {
        Idle, // the browser has not moved since the last settle step (m_bBrowserMoving false)
        Moving, // it moved; m_nStillTicks counts the ticks it has stood still since
        Settling, // its sixth still tick: the window settles at its place, and tracking is Idle again
    };
    // The one function that moves the tracking (m_bBrowserMoving, m_nStillTicks): whether the browser's
    // left or top changed since the last tick; answers the state entered.
    BrowserMoveState trackBrowserMove(bool browserMoved);
    // The page's place in the browser, applied to the native window again.
    void placeAgain();
    // The native parent is being destroyed: detach and hide, so that the window survives it.
    void onNativeDestroy();
    static NativeRect cutRect(int x, int y, int width, int height);
    void showTaskbars();

    NativeDesktop &m_desktop;
    ComponentFactory m_componentFactory;
    WebClientComponents *m_pComponents = nullptr; // owned; its video widget is a child of this window
    NativeHandle m_hRenderHwnd = 0; // Chrome's page-content child of the browser window
    NativeHandle m_hD3dHwnd = 0; // Chrome's compositor child of the browser window
    NativeHandle m_hParentHwnd = 0; // the browser (parent) window
    NativeHandle m_hTrayWnd = 0; // primary taskbar
    NativeHandle m_hSecondaryTrayWnd = 0; // secondary taskbar, if any
    NativeHandle m_hSelfHwnd = 0; // this window
    QRect m_rcWindow; // placement in page coordinates, before any screen or Chrome offset
    int m_nCoverLeft = 0; // pixels of the page rectangle hidden on each side
    int m_nCoverTop = 0;
    int m_nCoverRight = 0;
    int m_nCoverBottom = 0;
    QString m_strUuid; // session identifier
    QString m_strClassName; // browser class name from createWnd
    bool m_bEmbed = true; // native child of m_hParentHwnd
    bool m_bTopMost = false; // last placed into the topmost band
    int m_nStillTicks = -1; // 100 ms ticks the browser stood still since it moved
    bool m_bBrowserMoving = false; // move tracking is Moving (see BrowserMoveState)
    NativeRect m_rcBrowser; // browser window rectangle at the last tick
    bool m_bParentChange = false; // the last updateParentWnd changed the parent
    bool m_bHiddenByParent = false; // hidden because the native parent went away
    bool m_bFillParent = false; // a parent handle came with the request and bClientUsed was false
    NativePoint m_ptParent; // browser left and top at the last follow tick
    bool m_bBrowserFullScreen = false;
    QString m_strBackgroundColor;
    QString m_strSubBackgroundColor;
    QString m_strBorderColor;
    QString m_strSelectBorderColor;
};
