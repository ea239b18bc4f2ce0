#include "app/window/dialog_folders.h"

#include <QFileInfo>
#include <QSettings>

#include "app/window/config_files.h"
#include "app/window/window_prompts.h"

namespace {

QString FolderKey(uint32_t field_id) { return QStringLiteral("dialog-folders/%1").arg(field_id); }

}  // namespace

std::string DialogStart(uint32_t field_id, const std::string& field_text) {
    if (!field_text.empty()) return field_text;
    const QString file = ConfigFilePath("rvx-encoder.conf");
    if (file.isEmpty()) return std::string();
    const QString folder = QSettings(file, QSettings::IniFormat).value(FolderKey(field_id)).toString();
    // A folder that has gone since would open the dialog somewhere arbitrary.
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return std::string();
    return U(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

void RememberDialogFolder(uint32_t field_id, const std::string& chosen) {
    const QString file = ConfigFilePath("rvx-encoder.conf");
    if (file.isEmpty() || chosen.empty()) return;
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(FolderKey(field_id), QFileInfo(Q(chosen)).absolutePath());
}
