#pragma once

#include "standins/video_control/StandInEvent.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <functional>

class QWidget;

// An upload, download, upgrade or device HTTP request that ends by itself after the job duration.
struct TransferJob
{
    enum Kind { Upload, Download, Upgrade, Http };
    enum class Status { Running, Finished, Stopped };

    // The one place a job's status changes; a stopped job keeps the progress it had.
    void moveTo(Status next, int progressNow = 0);
    QString statusName() const;

    Kind kind = Upload;
    int id = 0;
    QWidget *widget = nullptr; // HTTP and upload jobs raise their event for it
    QJsonObject request; // as it may be shown again (no credentials)
    QElapsedTimer started;
    Status status = Status::Running;
    int stoppedProgress = 0; // the progress when it was stopped
};

// The jobs, at most kMaxJobs (the oldest is forgotten). Guarded by the library's state lock.
class TransferJobs
{
public:
    // Starts a job and answers "jobId".
    QJsonObject start(TransferJob::Kind kind, QWidget *widget, const QJsonObject &shownRequest);
    // The job named by request's "jobId", or the latest of its kind: "jobId", "status", "progress";
    // stopping a running one first when stop is set.
    QJsonObject query(TransferJob::Kind kind, const QJsonObject &request, bool stop);
    // Running jobs past their duration finish; those with a live widget raise their event.
    void finishDue(const std::function<bool(QWidget *)> &isLive, QVector<StandInEvent> &events);
    void forgetWidget(QWidget *widget);
    void setDuration(int milliseconds);

private:
    static constexpr int kMaxJobs = 1000;

    std::deque<TransferJob> m_jobs; // oldest first
    int m_nextId = 1;
    int m_durationMs = 1000;
};
