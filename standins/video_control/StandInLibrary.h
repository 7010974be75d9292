#pragma once

#include "standins/video_control/CallRecorder.h"
#include "standins/video_control/ContractCall.h"
#include "standins/video_control/EventCallbacks.h"
#include "standins/video_control/LibraryState.h"
#include "standins/video_control/LibraryTicker.h"
#include "standins/video_control/PlayerReaper.h"
#include "standins/video_control/ResultDocuments.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <memory>
#include <mutex>
#include <optional>

class QJsonDocument;
class QWidget;

// The stand-in as one process-wide object: it runs each call of the contract against the library's
// state and puts its parts together (result documents, the call recorder, the event callbacks, the
// ticks, the player reaper). The state lock guards m_state alone; it is released before any callback,
// hook, delay or player shutdown.
class StandInLibrary
{
public:
    static StandInLibrary &instance();
    ~StandInLibrary();

    // One call of the document family: logs it, honours a queued result and the delay, or runs handler.
    // Events the handler leaves are raised after the lock is released.
    QJsonDocument *call(const char *function, ContractHandler handler, QWidget *widget, const QJsonDocument *request);
    void release(void *result) { m_documents.release(result); }

    void initialize(QWidget *widget);
    void forget(QWidget *widget);
    VC_EventCallback install(VC_EventType type, VC_EventCallback callback) { return m_callbacks.install(type, callback); }
    void raise(VC_EventType type, QWidget *widget, const QJsonObject &info) { m_callbacks.raise(type, widget, info); }
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
    CallRecorder &recorder() { return m_recorder; }
    int outstandingResults() { return m_documents.outstanding(); }
    int unknownReleases() { return m_documents.unknownReleases(); }
    void setTickPeriod(int milliseconds) { m_ticker.setPeriod(milliseconds); }
    void setJobDuration(int milliseconds);
    void setStreamTimeouts(int connectMilliseconds, int stallMilliseconds);
    void setRecordingLimits(long long maxFileBytes, long long minFreeBytes);
    void reset();

private:
    StandInLibrary();
    // The cell of a known widget, or null (lock held).
    StandInCell *cellOf(QWidget *widget, int index);
    // Ends the players that left their cells (no lock held).
    void retirePlayers();
    void raiseAll(const QVector<StandInEvent> &events);
    // One tick of the library thread: stream events of pattern cells, voice and audio information,
    // finished jobs.
    void tick();

    ResultDocuments m_documents;
    CallRecorder m_recorder;
    EventCallbacks m_callbacks;
    PlayerReaper m_reaper;
    std::mutex m_stateMutex; // guards m_state
    LibraryState m_state;
    LibraryTicker m_ticker; // last: its thread stops first
};
