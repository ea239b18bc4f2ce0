#pragma once
// A job's host in the window: reports cross from the job's thread to the
// window's as queued signals and never wait. The latest progress report is
// kept in a slot the controller takes from; while one signal is on its way
// no other is sent, so a job reporting faster than the window draws only
// replaces the value waiting there.

#include <QObject>
#include <mutex>

#include "jobs/job_host.h"

// The latest report of the running job, shared by the job's thread (which
// writes it) and the window's (which takes it).
class CLatestProgress {
public:
    // Job thread: keeps the report; true when the taker must be told (no
    // signal is on its way yet).
    bool Put(uint64_t serial, const JobProgress& progress);
    // Window thread: the report kept for the job `serial`; false when there
    // is none (taken already, or from a job released since).
    bool Take(uint64_t serial, JobProgress* progress);

private:
    std::mutex mutex_;
    uint64_t serial_ = 0;
    JobProgress progress_;
    bool waiting_ = false;
};

class CJobHostBridge : public QObject, public IJobHost {
    Q_OBJECT

public:
    // serial tells this job's signals from those of a job released before.
    CJobHostBridge(CLatestProgress* latest, uint64_t serial) : latest_(latest), serial_(serial) {}

    void SendProgress(const JobProgress& progress) override;
    void PostJobMessage(uint32_t message) override;

signals:
    void progressReady(quint64 serial);
    void jobEnded(quint64 serial, quint32 message);

private:
    CLatestProgress* latest_;
    uint64_t serial_;
};
