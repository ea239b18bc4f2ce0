#pragma once
// The window's own messages beside the job messages, and the Qt event that
// carries either kind: its type is the message code.

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "jobs/job_messages.h"

enum WindowMessage : uint32_t {
    MSG_JOB_IDLE = 0x8125,
    MSG_PAGE_RELEASE = 0x8136,
    MSG_APP_CLOSE = 0x8140,
    MSG_CONFIRM_EXIT = 0x8141,
    MSG_CONFIRM_ABORT = 0x8142,
};

class CWindowEvent : public QEvent {
public:
    CWindowEvent(uint32_t message, intptr_t param = 0, QObject* sender = nullptr, uint64_t job_serial = 0)
        : QEvent(static_cast<QEvent::Type>(message)), param_(param), sender_(sender), job_serial_(job_serial) {}

    uint32_t Message() const { return static_cast<uint32_t>(type()); }
    intptr_t Param() const { return param_; }
    // The page that posted MSG_JOB_STARTED.
    QObject* Sender() const { return sender_; }
    // Which job posted MSG_JOB_DONE or MSG_JOB_FAILED: a job released by an
    // abort may still post once it sees the stop, and must not be taken for
    // the page's next job.
    uint64_t JobSerial() const { return job_serial_; }

private:
    intptr_t param_;
    QObject* sender_;
    uint64_t job_serial_;
};

inline bool IsWindowMessage(const QEvent* event) {
    return event->type() >= QEvent::Type(0x8100) && event->type() < QEvent::Type(0x8200);
}

// Posts a message; the receiver takes it from its event loop.
void PostWindowMessage(QObject* receiver, uint32_t message, intptr_t param = 0, QObject* sender = nullptr,
                       uint64_t job_serial = 0);
