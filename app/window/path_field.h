#pragma once
// A path field that takes a file dropped on it: the file's path replaces the
// text (a dropped file is never inserted as a URL into the middle of a path).

#include <QLineEdit>
#include <functional>

class QMimeData;

class CPathField : public QLineEdit {
public:
    explicit CPathField(QWidget* parent = nullptr);
    // Where a dropped file goes; by default into this field.
    void SetDropHandler(std::function<void(const QString&)> handler) { drop_handler_ = std::move(handler); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::function<void(const QString&)> drop_handler_;
};

// The local file a drag carries, or empty (several files: the first).
QString DroppedFilePath(const QMimeData* data);
