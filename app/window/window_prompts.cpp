#include "app/window/window_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

bool CQtPrompts::Ask(QWidget* parent, const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

void CQtPrompts::Tell(QWidget* parent, const std::string& text, const std::string& caption, PromptIcon icon,
                      const std::string& detail) {
    const QMessageBox::Icon qt_icon = icon == PromptIcon::kError      ? QMessageBox::Critical
                                      : icon == PromptIcon::kQuestion ? QMessageBox::Question
                                                                      : QMessageBox::Information;
    QMessageBox box(qt_icon, Q(caption), Q(text), QMessageBox::Ok, parent);
    if (!detail.empty()) box.setInformativeText(Q(detail));
    box.exec();
}

std::string CQtPrompts::ChooseFile(QWidget* parent, const FileDialogSpec& spec, const std::string& start) {
    QFileDialog dialog(parent, Q(spec.title), Q(start));
    dialog.setNameFilters(QtNameFilters(spec));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setDefaultSuffix(QString());
    if (spec.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The create button asks before it replaces a file; asking here too
        // would ask twice.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
    return U(dialog.selectedFiles().front());
}

QStringList QtNameFilters(const FileDialogSpec& spec) {
    QStringList filters;
    for (const FileFilter& f : spec.filters) filters << Q(f.text + " (" + f.pattern + ")");
    return filters;
}
