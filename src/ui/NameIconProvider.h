#pragma once

#include <QFileIconProvider>

// The open dialog's icons and type names, from each listed file's name and kind alone. Qt's own
// provider asks the MIME database, which reads each listed file's content: as root, listing /proc
// then blocks for good in a read of /proc/kmsg, and a folder of many files or a slow mount makes
// the dialog crawl.
class TNameIconProvider : public QFileIconProvider
{
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo &info) const override;
    QString type(const QFileInfo &info) const override;
};
