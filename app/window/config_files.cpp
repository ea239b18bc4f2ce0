#include "app/window/config_files.h"

#include <QDir>
#include <QStandardPaths>

QString ConfigFilePath(const char* name) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder)) return QString();
    return folder + QLatin1Char('/') + QString::fromUtf8(name);
}
