#include "app/window/progress_words.h"

#include "app/progress_text.h"
#include "app/window/window_prompts.h"

QString CProgressWords::Status(const JobProgress& progress) {
    const QString name = Q(progress.name);
    // The first pass only measures the pictures; naming each one would
    // suggest the movie were being written twice.
    if (progress.pass == 1) return tr("解析中… %1/%2").arg(QString::number(progress.frame), QString::number(progress.total));
    switch (progress.stage) {
    case JobStage::kLoad:
        break;
    case JobStage::kFrames:
        return tr("%1をエンコード中... %2/%3").arg(name, QString::number(progress.frame), QString::number(progress.total));
    case JobStage::kSound:
        return tr("%1をエンコード中...").arg(name);
    case JobStage::kWriting:
        return tr("%1を出力中...").arg(name);
    }
    return name;
}

QString CProgressWords::Remaining(double elapsed_seconds, double fraction, uint32_t reports) {
    const double remaining = RemainingSeconds(elapsed_seconds, fraction, reports);
    return remaining < 0.0 ? QString() : tr("残り %1").arg(Q(ClockText(remaining)));
}
