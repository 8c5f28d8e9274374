#pragma once

#include <QFileDialog>
#include <QString>

// The open dialog. Qt's file dialog reads a typed name holding a double quote as a list of
// quoted names, which can name another file than the one typed (old".bmp becomes .bmp). Only
// text that is exactly one name in double quotes is left to that reading; any other text
// holding a quote is taken as typed, read when the dialog is accepted (Qt rewrites the field
// to match the file it then selects).
class TOpenDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    // The file chosen, as a full path; empty when none was.
    QString chosenFile() const;

protected:
    void accept() override;

private:
    QString FTypedPath; // the name as typed, made absolute; empty when Qt's reading holds
};
