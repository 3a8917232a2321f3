#include "platform/qt/qt_recycler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

namespace parevo {

namespace {

// Qt 6.4 on a home without its XDG data folder reports success and drops the file
// into "./files" of the current folder. Making the folder first avoids that.
void EnsureDataFolder() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty()) {
        QDir().mkpath(data);
    }
#endif
}

bool LooksLikeTrash(const QString& pathInTrash) {
    if (pathInTrash.isEmpty() || !QFileInfo(pathInTrash).isAbsolute()) {
        return false;
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    return pathInTrash.contains(QStringLiteral("/Trash/files/")) ||
           pathInTrash.contains(QStringLiteral("/.Trash"));
#else
    return true;
#endif
}

}  // namespace

RecycleResult QtRecycler::MoveToTrash(const std::string& path) {
    EnsureDataFolder();
    const QString source = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    QString pathInTrash;
    if (!QFile::moveToTrash(source, &pathInTrash)) {
        return {false, "the recycle bin refused the file"};
    }
    if (!LooksLikeTrash(pathInTrash)) {
        // The file went somewhere that is no recycle bin: put it back.
        if (!QFile::rename(pathInTrash, source)) {
            return {false, "no usable recycle bin; the file is now at " +
                               pathInTrash.toUtf8().toStdString()};
        }
        return {false, "no usable recycle bin"};
    }
    return {true, {}};
}

}  // namespace parevo
