#pragma once

#include "standins/video_control/PlayerLimits.h"
#include "standins/video_control/VideoControlTesting.h"

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QRecursiveMutex>
#include <QSet>
#include <QString>
#include <QVector>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QJsonDocument;
class QWidget;
class StreamPlayer;

// What a cell shows; kept apart from the painting so that a player can take a cell's place later.
struct StandInCell
{
    bool hidden = false;
    bool playing = false;
    QString state = QStringLiteral("stopped"); // "playing", "paused", "stopped"
    double speed = 1.0;
    QJsonObject request; // what it plays
    std::shared_ptr<StreamPlayer> player; // the stream's player; none for the pattern
};

struct StandInColours
{
    QColor background { 0x20, 0x20, 0x20 };
    QColor subBackground { 0x30, 0x30, 0x38 };
    QColor border { 0x60, 0x60, 0x60 };
    QColor selectedBorder { 0xff, 0xc0, 0x00 };
};

// Everything the library keeps for one component widget.
struct StandInWidgetState
{
    QVector<StandInCell> cells { StandInCell() };
    int selected = 0;
    StandInColours colours;
    QJsonObject stored; // what the VC_Set<X> functions stored, by "<x>"
    int volume = 50;
    bool sound = false;
    bool fit = true; // frames keep their aspect ratio in the cell
    int reconnectAttempts = 0;
    int reconnectIntervalMs = 1000;
};

// An upload, download, upgrade or device HTTP request that ends by itself after the job duration.
struct StandInJob
{
    enum Kind { Upload, Download, Upgrade, Http };
    Kind kind = Upload;
    int id = 0;
    QWidget *widget = nullptr; // HTTP jobs raise their event for it
    QJsonObject request;
    QElapsedTimer started;
    QString status = QStringLiteral("running"); // "running", "finished", "stopped"
    int stoppedProgress = 0; // the progress when it was stopped
};

// The stand-in's whole state, shared by the exported functions, the painting child and the library
// thread. Callbacks are always called with the lock released.
class StandInLibrary
{
public:
    static StandInLibrary &instance();
    ~StandInLibrary();

    // One call of the document family: logs it, honours the delay and a queued result, then runs the
    // function's behaviour. Events the behaviour raises are raised after the lock is released.
    QJsonDocument *call(const char *function, QWidget *widget, const QJsonDocument *request);
    void release(void *result);

    void initialize(QWidget *widget);
    void forget(QWidget *widget);
    VC_EventCallback install(VC_EventType type, VC_EventCallback callback);
    void raise(VC_EventType type, QWidget *widget, const QJsonObject &info);
    void setColours(const QString &background, const QString &subBackground, const QString &border,
        const QString &selectedBorder);

    // Cell functions.
    int cellCount(QWidget *widget);
    void setCellHidden(QWidget *widget, int index, bool hidden);
    bool isCellHidden(QWidget *widget, int index);
    bool isCellPlaying(QWidget *widget, int index);
    // Viewers of a cell's compressed stream: see VC_AddStreamViewer.
    int addStreamViewer(QWidget *widget, int index, std::shared_ptr<VC_StreamViewer> viewer);
    void removeStreamViewer(QWidget *widget, const VC_StreamViewer *viewer);
    // A click on a cell selects it.
    void selectCell(QWidget *widget, int index);
    // A copy for painting; none when the widget is unknown.
    std::optional<StandInWidgetState> snapshot(QWidget *widget);

    // The testing header's side.
    QVector<VctCall> calls();
    void clearCalls();
    void queueResult(const QString &function, std::optional<QJsonObject> result);
    void setDelay(const QString &function, int milliseconds);
    void setCallHook(VctCallHook hook);
    int outstandingResults();
    int unknownReleases();
    void setTickPeriod(int milliseconds);
    void setJobDuration(int milliseconds);
    void setStreamTimeouts(int connectMilliseconds, int stallMilliseconds);
    void setRecordingLimits(long long maxFileBytes, long long minFreeBytes);
    void reset();


private:
    struct PendingEvent
    {
        VC_EventType type;
        QWidget *widget;
        QJsonObject info;
    };

    StandInLibrary();
    QJsonObject behave(const QString &function, QWidget *widget, const QJsonObject &request,
        QVector<PendingEvent> &events);
    QJsonObject cellCommand(const QString &function, QWidget *widget, StandInWidgetState &state,
        const QJsonObject &request);
    QJsonObject streamCommand(const QString &function, StandInCell &cell, int index, const QJsonObject &request);
    void startPlayer(QWidget *widget, StandInWidgetState &state, int index);
    // A stopped cell keeps only whether it is hidden. Its player is retired: detached once the lock is
    // released (its thread may be waiting for the lock to raise an event), then stopped and joined on the
    // reaper thread, so that a player stuck in a host lookup or a slow disk never holds up the caller.
    void stopCell(StandInCell &cell);
    void resizeCells(StandInWidgetState &state, int count);
    void stopRetired();
    // Cells that decode a stream, in every window (the lock is held).
    int decodingPlayers() const;
    void runReaper();
    // The secrets of the component named by a request's "uuid"; the oldest holder is forgotten past
    // kMaxSecretHolders.
    struct Secrets
    {
        QString key;
        QString original;
        QJsonObject localConfig;
    };
    Secrets &secretsOf(const QJsonObject &request);
    QJsonObject jobCommand(const QString &function, QWidget *widget, const QJsonObject &request);
    QJsonDocument *hand(const QJsonObject &result);
    // The component widget named uuid (GUI thread), or null.
    QWidget *widgetNamed(const QString &uuid) const;
    void runTicks();
    void tick();

    QRecursiveMutex mutex;
    VC_EventCallback callbacks[13] = {};
    StandInColours colours; // for widgets initialised from now on
    QHash<QWidget *, StandInWidgetState> widgets;
    QHash<QString, Secrets> secrets; // by the requests' "uuid": a page never sees another page's
    std::deque<QString> secretHolders; // oldest first
    bool talking = false; // voice talk runs, for talkWidget
    QString talkUuid;
    QWidget *talkWidget = nullptr;
    bool audioPlaying = false; // audio plays, for audioWidget
    QString audioUuid;
    QWidget *audioWidget = nullptr;
    std::deque<StandInJob> jobs; // at most kMaxJobs, oldest first
    int nextJobId = 1;
    int jobDuration = 1000;
    std::deque<VctCall> callLog; // at most kMaxCalls
    QHash<QString, std::deque<std::optional<QJsonObject>>> queuedResults;
    QHash<QString, int> delays;
    VctCallHook callHook;
    QSet<void *> handedOut;
    int badReleases = 0;
    std::vector<std::shared_ptr<StreamPlayer>> retired; // players to stop once the lock is released

    // The reaper thread: destroys retired players.
    std::mutex reaperMutex;
    std::condition_variable reaperWake;
    std::vector<std::shared_ptr<StreamPlayer>> reaping;
    bool reaperStopping = false;
    std::thread reaperThread;
    int connectTimeoutMs = 5000;
    int stallTimeoutMs = 3000;
    long long maxRecordingBytes = kDefaultMaxRecordingBytes;
    long long minFreeDiskBytes = kDefaultMinFreeDiskBytes;

    // The library thread.
    std::mutex tickMutex;
    std::condition_variable tickWake;
    int tickPeriod = 500;
    bool stopping = false;
    unsigned long tickCount = 0;
    std::thread tickThread;
};
