#pragma once

#include <QByteArray>
#include <QtGlobal>

// The bytes of a picture as the decoders read them: a file already opened and checked, or bytes
// in memory. Both are read the same way, a piece at a time from a given offset, so a file is
// only read as far as its decoder goes, and a file and the same bytes in memory decode alike.
class TByteSource
{
public:
    explicit TByteSource(QByteArray bytes);
    // A regular file of `size` bytes (as fstat gave it) open for reading; the caller keeps the
    // descriptor open while the source is used.
    TByteSource(int fd, qint64 size);

    qint64 size() const { return FSize; }

    // Copies the bytes from offset up to offset + length, cut at size(), to `to`. Returns how
    // many were copied, or -1 when the file could not be read or ended before size(): it was
    // cut short or changed while being read. failed() then stays true.
    qint64 read(qint64 offset, char *to, qint64 length);
    bool failed() const { return FFailed; }

private:
    QByteArray FBytes;
    int FFd = -1;
    qint64 FSize;
    bool FFailed = false;
};
