#include "ui/OpenDialog.h"

#include <QFileInfo>
#include <QLineEdit>

QString TOpenDialog::chosenFile() const
{
    if (!FTypedPath.isEmpty())
        return FTypedPath;
    const QStringList chosen = selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

void TOpenDialog::accept()
{
    FTypedPath.clear();
    const auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    const QString typed = edit ? edit->text() : QString();
    const qsizetype quotes = typed.count(QLatin1Char('"'));
    const bool oneQuotedName = quotes == 2 && typed.size() > 2 &&
                               typed.startsWith(QLatin1Char('"')) &&
                               typed.endsWith(QLatin1Char('"'));
    if (quotes > 0 && !oneQuotedName) {
        const QString path = directory().absoluteFilePath(typed);
        if (!QFileInfo(path).isDir()) { // a folder is entered, as Qt does
            FTypedPath = path;
            done(QDialog::Accepted); // accepted without Qt's reading of a list
            return;
        }
    }
    QFileDialog::accept();
}
