#include "ui/OpenRequest.h"

#include <QDir>
#include <QMimeData>
#include <QUrl>

namespace ui {

std::optional<std::string> FileFromArguments(const QStringList& arguments) {
    if (arguments.size() < 2 || arguments[1].isEmpty()) return std::nullopt;
    // Joined, not cleaned: ".." after a symbolic link means what the file system says it means.
    // In the platform's spelling, as the file dialogs hand paths over (backslashes on Windows).
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(arguments[1])).toStdString();
}

std::optional<std::string> DroppedFile(const QMimeData& data) {
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) return QDir::toNativeSeparators(url.toLocalFile()).toStdString();
    }
    return std::nullopt;
}

}  // namespace ui
