#include "ui/OpenRequest.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace ui {

#ifdef _WIN32
// Windows hands Qt its names as UTF-16: nothing is lost on the way.
std::string NativePath(const QString& path) { return QDir::toNativeSeparators(path).toStdString(); }
#else
namespace {

bool Exists(const QByteArray& path) {
    struct stat info{};
    return ::lstat(path.constData(), &info) == 0;
}

// The one name in `folder` that Qt shows as `shown`; empty when none or several do.
QByteArray NameShownAs(const QByteArray& folder, const QString& shown) {
    DIR* dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir) return {};
    QByteArray found;
    int matches = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (QFile::decodeName(entry->d_name) == shown && ++matches == 1) found = entry->d_name;
    }
    ::closedir(dir);
    return matches == 1 ? found : QByteArray();
}

}  // namespace

std::string NativePath(const QString& path) {
    QByteArray bytes = QFile::encodeName(path);
    if (!path.contains(QChar::ReplacementCharacter) || Exists(bytes)) return bytes.toStdString();
    // Name by name along the path, so that a folder with such a name is found as well as a file.
    const QStringList parts = path.split(u'/');
    QByteArray resolved;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) resolved += '/';
        QByteArray part = QFile::encodeName(parts[i]);
        if (parts[i].contains(QChar::ReplacementCharacter) && !Exists(resolved + part)) {
            const QByteArray found = NameShownAs(resolved, parts[i]);
            if (!found.isEmpty()) part = found;
        }
        resolved += part;
    }
    return resolved.toStdString();
}
#endif

std::optional<std::string> FileFromArguments(const QStringList& arguments) {
    if (arguments.size() < 2 || arguments[1].isEmpty()) return std::nullopt;
    // Joined, not cleaned: ".." after a symbolic link means what the file system says it means.
    // In the platform's spelling, as the file dialogs hand paths over (backslashes on Windows).
    return NativePath(QDir::current().absoluteFilePath(arguments[1]));
}

std::optional<std::string> DroppedFile(const QMimeData& data) {
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) return NativePath(url.toLocalFile());
    }
    return std::nullopt;
}

}  // namespace ui
