#pragma once
// Every message box and file dialog of the window goes through this one
// interface, so that tests can answer them from a script.

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

class QWidget;

enum class PromptIcon { kError, kQuestion, kInformation };

struct FileFilter {
    std::string text;     // "rvx file (*.rvx)"
    std::string pattern;  // "*.rvx"
};

struct FileDialogSpec {
    bool save = false;
    std::string title;
    std::vector<FileFilter> filters;  // with "すべてのファイル (*.*)" last
};

class IWindowPrompts {
public:
    virtual ~IWindowPrompts() = default;
    // A question with Yes and No; true for Yes.
    virtual bool Ask(QWidget* parent, const std::string& text, const std::string& caption) = 0;
    // A message with an OK button; detail, when not empty, is shown below the
    // text (why a job failed).
    virtual void Tell(QWidget* parent, const std::string& text, const std::string& caption, PromptIcon icon,
                      const std::string& detail = std::string()) = 0;
    // The chosen path, or empty when the user cancelled.
    virtual std::string ChooseFile(QWidget* parent, const FileDialogSpec& spec, const std::string& start) = 0;
};

// The real boxes and dialogs.
class CQtPrompts : public IWindowPrompts {
public:
    bool Ask(QWidget* parent, const std::string& text, const std::string& caption) override;
    void Tell(QWidget* parent, const std::string& text, const std::string& caption, PromptIcon icon,
              const std::string& detail) override;
    std::string ChooseFile(QWidget* parent, const FileDialogSpec& spec, const std::string& start) override;
};

// Qt's name filters for a file dialog: each "TEXT (PATTERN)", meant to be shown
// with the details hidden, so that a text such as "すべてのファイル (*.*)"
// can stand for the pattern "*" (files without a dot included).
QStringList QtNameFilters(const FileDialogSpec& spec);

inline QString Q(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }
inline std::string U(const QString& text) { return text.toUtf8().toStdString(); }
