#pragma once
// The dump file a user asks for outside the open dialog: named on the command line (as a file
// manager does when it opens a dump with the program) or dropped onto the window.

#include <QStringList>
#include <optional>
#include <string>

class QMimeData;

namespace ui {

// The file named by the first argument after the program's own name (Qt has already taken its
// own options out), made absolute against the current folder; nothing when there is none.
// Further arguments are ignored, as further files of a drop are.
std::optional<std::string> FileFromArguments(const QStringList& arguments);

// The first local file among the dropped URLs; nothing when none is a local file.
std::optional<std::string> DroppedFile(const QMimeData& data);

// A path as Qt gives it (argument, drop, file dialog), in the platform's spelling, as the bytes
// the file system knows it by. Qt shows a name that is not UTF-8 (a Shift_JIS name from an old
// archive) with replacement characters and cannot give its bytes back; each such name is found
// again among the names its folder holds, when exactly one of them shows as it does.
std::string NativePath(const QString& path);

}  // namespace ui
