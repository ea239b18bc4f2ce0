#include "app/window/path_field.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

QString DroppedFilePath(const QMimeData* data) {
    if (!data || !data->hasUrls()) return QString();
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return QString();
}

CPathField::CPathField(QWidget* parent) : QLineEdit(parent) { setAcceptDrops(true); }

void CPathField::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFilePath(event->mimeData()).isEmpty() && isEnabled())
        event->acceptProposedAction();
    else
        QLineEdit::dragEnterEvent(event);
}

void CPathField::dragMoveEvent(QDragMoveEvent* event) {
    if (!DroppedFilePath(event->mimeData()).isEmpty() && isEnabled())
        event->acceptProposedAction();
    else
        QLineEdit::dragMoveEvent(event);
}

void CPathField::dropEvent(QDropEvent* event) {
    const QString path = DroppedFilePath(event->mimeData());
    if (path.isEmpty() || !isEnabled()) {
        QLineEdit::dropEvent(event);
        return;
    }
    if (drop_handler_)
        drop_handler_(path);
    else
        setText(path);
    event->acceptProposedAction();
}
