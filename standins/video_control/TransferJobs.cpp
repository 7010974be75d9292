#include "standins/video_control/TransferJobs.h"

#include "standins/video_control/VideoControlTesting.h"

#include <QVector>

void TransferJob::moveTo(Status next, int progressNow)
{
    if (next == Status::Stopped)
        stoppedProgress = progressNow;
    status = next;
}

QString TransferJob::statusName() const
{
    static const char *const words[] = { "running", "finished", "stopped" }; // in the order of Status
    return QLatin1String(words[int(status)]);
}

QJsonObject TransferJobs::start(TransferJob::Kind kind, QWidget *widget, const QJsonObject &shownRequest)
{
    TransferJob job;
    job.kind = kind;
    job.id = m_nextId++;
    job.widget = widget;
    job.request = shownRequest;
    job.started.start();
    m_jobs.push_back(job);
    if (m_jobs.size() > size_t(kMaxJobs))
        m_jobs.pop_front();
    return QJsonObject { { QLatin1String("jobId"), job.id } };
}

QJsonObject TransferJobs::query(TransferJob::Kind kind, const QJsonObject &request, bool stop)
{
    const int id = request.value(QLatin1String("jobId")).toInt(0);
    TransferJob *job = nullptr;
    for (auto it = m_jobs.rbegin(); it != m_jobs.rend(); ++it) {
        if (it->kind == kind && (id == 0 || it->id == id)) {
            job = &*it;
            break;
        }
    }
    if (!job)
        return QJsonObject { { QLatin1String("errorCode"), VCT_ERROR_NO_SUCH_JOB } };
    // A job moves on with time; a stopped one stays where it was stopped, short of the end.
    const int elapsedPercent = int(qMin<qint64>(100, job->started.elapsed() * 100 / qMax(1, m_durationMs)));
    if (stop && job->status == TransferJob::Status::Running)
        job->moveTo(TransferJob::Status::Stopped, qMin(99, elapsedPercent));
    int progress = elapsedPercent;
    if (job->status == TransferJob::Status::Finished)
        progress = 100;
    else if (job->status == TransferJob::Status::Stopped)
        progress = job->stoppedProgress;
    return QJsonObject {
        { QLatin1String("jobId"), job->id },
        { QLatin1String("status"), job->statusName() },
        { QLatin1String("progress"), progress },
    };
}

void TransferJobs::finishDue(const std::function<bool(QWidget *)> &isLive, QVector<StandInEvent> &events)
{
    for (TransferJob &job : m_jobs) {
        if (job.status != TransferJob::Status::Running || job.started.elapsed() < m_durationMs)
            continue;
        job.moveTo(TransferJob::Status::Finished);
        if (!isLive(job.widget))
            continue;
        const QJsonObject info {
            { QLatin1String("jobId"), job.id },
            { QLatin1String("status"), job.kind == TransferJob::Http ? QJsonValue(200) : QJsonValue(job.statusName()) },
            { QLatin1String("uuid"), job.request.value(QLatin1String("uuid")) },
            { QLatin1String("url"), job.request.value(QLatin1String("url")).toString() },
        };
        if (job.kind == TransferJob::Upload)
            events.append({ VC_EVENT_UPLOAD_ALARM, job.widget, info });
        else if (job.kind == TransferJob::Http)
            events.append({ VC_EVENT_HTTP_ASYNC, job.widget, info });
    }
}

void TransferJobs::forgetWidget(QWidget *widget)
{
    for (TransferJob &job : m_jobs) {
        if (job.widget == widget)
            job.widget = nullptr;
    }
}

void TransferJobs::setDuration(int milliseconds)
{
    m_durationMs = qMax(0, milliseconds);
}
