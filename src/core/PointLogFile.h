#pragma once

#include <QByteArray>
#include <QString>

class TPointWithRange;

// The point log: a text file created empty (or emptied) at construction, to which every
// WritePoint appends one line "x,y" CR LF. Lines go straight to write(2), nothing is buffered,
// and the file is opened for appending so that each line lands at the file's current end even
// when someone else has emptied it meanwhile.
class TPointLogFile
{
public:
    // Raises EFCreateError when the file cannot be created or opened for writing.
    explicit TPointLogFile(const QByteArray &FileName);
    virtual ~TPointLogFile();
    TPointLogFile(const TPointLogFile &) = delete;
    TPointLogFile &operator=(const TPointLogFile &) = delete;

    // Writes the whole line or nothing: a write that fails after part of the line went out
    // cuts the file back to where the line started, then raises EFWriteError. The file-size
    // limit is such a failure (EFBIG), not the end of the process.
    void WritePoint(const TPointWithRange &Point);

    const QByteArray &fileName() const { return FFileName; }

private:
    int FStream = -1; // file descriptor
    QByteArray FFileName;
};

namespace pointlogfile {
// The log path for a program started as `invocationName` (argv[0], unchanged): its extension
// (from the last "." after the last "/") replaced by ".log", or ".log" appended.
QByteArray logPathFor(const QByteArray &invocationName);

// The line WritePoint writes for (x, y).
QByteArray logLine(qint32 x, qint32 y);
} // namespace pointlogfile
