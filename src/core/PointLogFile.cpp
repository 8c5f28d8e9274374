#include "core/PointLogFile.h"

#include "core/Errors.h"
#include "core/PointWithRange.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

QString messagePath(const QByteArray &fileName)
{
    return errors::absolutePathForMessage(QString::fromLocal8Bit(fileName));
}

// Holds SIGXFSZ blocked for the calling thread while it lives. A write that meets the file-size
// limit (RLIMIT_FSIZE) then fails with EFBIG instead of ending the process by the signal's
// default action; the signal it leaves pending is taken before the mask is put back. A thread
// that already blocks SIGXFSZ keeps its mask and whatever is pending for it.
class TFileSizeSignalBlock
{
public:
    TFileSizeSignalBlock()
    {
        sigemptyset(&FSignal);
        sigaddset(&FSignal, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &FSignal, &FPrevious);
    }
    ~TFileSizeSignalBlock()
    {
        if (sigismember(&FPrevious, SIGXFSZ))
            return;
        const timespec noWait{};
        sigtimedwait(&FSignal, nullptr, &noWait);
        pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
    }
    TFileSizeSignalBlock(const TFileSizeSignalBlock &) = delete;
    TFileSizeSignalBlock &operator=(const TFileSizeSignalBlock &) = delete;

private:
    sigset_t FSignal;
    sigset_t FPrevious;
};

} // namespace

TPointLogFile::TPointLogFile(const QByteArray &FileName) : FFileName(FileName)
{
    FStream = ::open(FileName.constData(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (FStream < 0) {
        const int error = errno;
        throw EFCreateError(QStringLiteral("ファイル \"%1\" を作成できません: %2")
                                .arg(messagePath(FileName), errors::systemErrorText(error)));
    }
}

TPointLogFile::~TPointLogFile()
{
    if (FStream >= 0)
        ::close(FStream);
}

void TPointLogFile::WritePoint(const TPointWithRange &Point)
{
    const QByteArray line = pointlogfile::logLine(Point.X(), Point.Y());
    const TFileSizeSignalBlock fileSizeSignal;
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(FStream, line.constData() + written, line.size() - written);
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = (n < 0) ? errno : EIO;
        if (written > 0) {
            // Take back the fragment, so that the next line does not start glued to it.
            const off_t end = ::lseek(FStream, 0, SEEK_CUR);
            if (end >= written) {
                // If even this fails, the write error below still tells the user.
                [[maybe_unused]] const int ignored = ::ftruncate(FStream, end - written);
            }
        }
        throw EFWriteError(QStringLiteral("ファイル \"%1\" に書き込めません: %2")
                               .arg(messagePath(FFileName), errors::systemErrorText(error)));
    }
}

namespace pointlogfile {

QByteArray logPathFor(const QByteArray &invocationName)
{
    const qsizetype slash = invocationName.lastIndexOf('/');
    const qsizetype dot = invocationName.lastIndexOf('.');
    const QByteArray stem = (dot > slash) ? invocationName.left(dot) : invocationName;
    return stem + ".log";
}

QByteArray logLine(qint32 x, qint32 y)
{
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%d,%d\r\n", x, y);
    return QByteArray(text, length);
}

} // namespace pointlogfile
