#include "ui/NameIconProvider.h"

#include <QFileInfo>
#include <QIcon>
#include <QMimeDatabase>

QIcon TNameIconProvider::icon(const QFileInfo &info) const
{
    return icon(info.isDir() ? Folder : File);
}

QString TNameIconProvider::type(const QFileInfo &info) const
{
    if (!info.isFile()) // a folder, a drive or a dangling link: told by its kind
        return QFileIconProvider::type(info);
    const QMimeType mime =
        QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
}
