#pragma once

#include <QString>

#include <stdexcept>

// The failure kinds a handler can end with. Each carries the message the user is shown;
// the window's failure guard turns any of them into one message box.
class ETavimoError : public std::runtime_error
{
public:
    explicit ETavimoError(const QString &message);
    const QString &message() const noexcept { return FMessage; }

private:
    QString FMessage;
};

// A file that cannot be opened for reading.
class EFOpenError : public ETavimoError
{
public:
    using ETavimoError::ETavimoError;
};

// A file that cannot be created or emptied for writing.
class EFCreateError : public ETavimoError
{
public:
    using ETavimoError::ETavimoError;
};

// A file that cannot be written to (disk full, input/output error).
class EFWriteError : public ETavimoError
{
public:
    using ETavimoError::ETavimoError;
};

// A file that ends before the data its header promises.
class EReadError : public ETavimoError
{
public:
    EReadError();
};

// Content that is no picture the program can decode, or that it refuses to decode.
class EInvalidGraphicOperation : public ETavimoError
{
public:
    EInvalidGraphicOperation();
    using ETavimoError::ETavimoError;
};

// A picture larger than the program will hold, refused from its header before its pixels are
// allocated. The message names the picture's size and the limit it exceeds, in whole
// megapixels (millions of pixels, rounded down).
class EPictureTooLarge : public ETavimoError
{
public:
    EPictureTooLarge(qint64 width, qint64 height, qint64 limitPixels);
};

namespace errors {

// The text of the failure report: the message, with "." appended when its last character's
// code is above 0x2E (letters, digits, every non-ASCII character, "。" included).
QString failureText(const QString &message);

// The system's text for an errno value (strerror_r), in the user's locale.
QString systemErrorText(int errnoValue);

// A path made absolute for messages: a leading "~" is the home folder, a relative path is
// taken against the working folder, and "." and ".." parts are resolved without touching
// the file system.
QString absolutePathForMessage(const QString &path);

} // namespace errors
