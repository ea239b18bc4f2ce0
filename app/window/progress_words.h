#pragma once
// A job's progress in the window's words, through the window's translation:
// the status line and the time still to go.

#include <QCoreApplication>
#include <QString>
#include <cstdint>

#include "jobs/job_progress.h"

class CProgressWords {
    Q_DECLARE_TR_FUNCTIONS(CProgressWords)

public:
    // "解析中… n/total" through the first pass of a job coded to a target,
    // "NAMEをエンコード中... n/total" while the pictures are coded,
    // "WAVEをエンコード中..." for the sound, "OUTPUTを出力中..." for the
    // movie, and the source's name alone while it is opened.
    static QString Status(const JobProgress& progress);
    // "残り m:ss" once enough reports give the pace; empty before.
    static QString Remaining(double elapsed_seconds, double fraction, uint32_t reports);
};
