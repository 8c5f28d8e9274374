#include "core/JpegDecoder.h"

#include "core/ByteSource.h"
#include "core/Errors.h"
#include "core/PictureLimits.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace jpegdecoder {

namespace {

// A forged progressive file can hold thousands of tiny scans, each making libjpeg walk the
// whole coefficient buffer; no encoder writes anywhere near this many.
constexpr int MaxScans = 1000;

// Rows handed to libjpeg per call.
constexpr JDIMENSION RowsPerCall = 16;

// Compressed bytes handed to libjpeg per read: large enough that libjpeg-turbo's Huffman decoder
// seldom leaves its fast path, which wants a few KiB in hand.
constexpr qint64 PieceSize = qint64(64) << 10;

// All state libjpeg's callbacks reach through client_data. Plain data only: libjpeg leaves its
// errors by longjmp, which must not skip a destructor.
struct Session
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_progress_mgr progress;
    jpeg_source_mgr source;
    TByteSource *bytes;
    qint64 nextPiece; // offset in bytes of the piece the source reads next
    JOCTET *piece;    // PieceSize bytes
    std::jmp_buf escape;
    bool decoding;              // from jpeg_start_decompress until the last row is out
    bool inputRanOut;           // the source reached the end of the bytes and made up an EOI marker
    unsigned scannedComponents; // bit i set once component index i appeared in a scan header
};

Session &sessionOf(j_common_ptr common)
{
    return *static_cast<Session *>(common->client_data);
}

[[noreturn]] void errorExit(j_common_ptr common)
{
    std::longjmp(sessionOf(common).escape, 1);
}

// Warnings (level -1) and trace messages (levels 0 and up) arrive here, whatever trace_level.
//
// When the bytes end, the source warns JWRN_JPEG_EOF and feeds a made-up EOI marker, as libjpeg's
// own sources do, and the decoder then fills what it still needs with zeros. A file lacking only
// its EOI marker warns too, though, even before its last row: the Huffman decoder reads ahead of
// the bits it needs. What tells the two apart is what comes next. Made-up data always brings a
// further warning (premature end of data segment, or a restart marker not found) while rows remain;
// a missing EOI alone brings none.
void emitMessage(j_common_ptr common, int level)
{
    Session &session = sessionOf(common);
    j_decompress_ptr cinfo = &session.cinfo;
    const int code = common->err->msg_code;

    if (level > 0) {
        // The trace closing each scan header, once the scan's components are known.
        if (code == JTRC_SOS_PARAMS) {
            for (int i = 0; i < cinfo->comps_in_scan; ++i)
                session.scannedComponents |= 1u << cinfo->cur_comp_info[i]->component_index;
        }
        return;
    }
    if (level == 0)
        return;

    const bool rowsPending = session.decoding && cinfo->output_scanline < cinfo->output_height;
    if (code == JWRN_JPEG_EOF) {
        session.inputRanOut = true;
        // The arithmetic decoder pads with zeros silently, so after the end of the bytes it
        // cannot tell a missing EOI marker from missing data: with rows left, take it as cut.
        if (rowsPending && cinfo->arith_code)
            std::longjmp(session.escape, 1);
        return;
    }
    // A marker where the scan still needs data: its segment ended early and the decoder would
    // fill the rest with zeros. Refused also when bytes follow the marker, as in a file cut
    // short and closed with an EOI marker, or one with other data spliced into its scan.
    if (code == JWRN_HIT_MARKER && rowsPending)
        std::longjmp(session.escape, 1);
    if (session.inputRanOut && rowsPending)
        std::longjmp(session.escape, 1);
}

// libjpeg's source of compressed bytes: the byte source, read a piece at a time as the decoder
// asks for more, so a file is read no further than the decoder goes (nothing after the end of
// the image, give or take a piece).
boolean fillInput(j_decompress_ptr cinfo)
{
    Session &session = sessionOf(reinterpret_cast<j_common_ptr>(cinfo));
    qint64 got =
        session.bytes->read(session.nextPiece, reinterpret_cast<char *>(session.piece), PieceSize);
    if (got < 0)
        ERREXIT(cinfo, JERR_FILE_READ);
    session.nextPiece += got;
    if (got == 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        session.piece[0] = 0xFF;
        session.piece[1] = JPEG_EOI;
        got = 2;
    }
    session.source.next_input_byte = session.piece;
    session.source.bytes_in_buffer = size_t(got);
    return TRUE;
}

// Bytes skipped beyond the piece in hand (the rest of a marker segment) are not read at all.
void skipInput(j_decompress_ptr cinfo, long count)
{
    Session &session = sessionOf(reinterpret_cast<j_common_ptr>(cinfo));
    jpeg_source_mgr &source = session.source;
    if (count <= 0)
        return;
    if (size_t(count) <= source.bytes_in_buffer) {
        source.next_input_byte += count;
        source.bytes_in_buffer -= size_t(count);
        return;
    }
    session.nextPiece += count - qint64(source.bytes_in_buffer);
    source.bytes_in_buffer = 0; // libjpeg calls fillInput before its next byte
}

void noSourceAction(j_decompress_ptr) {}

void limitScans(j_common_ptr common)
{
    Session &session = sessionOf(common);
    if (session.cinfo.input_scan_number > MaxScans)
        std::longjmp(session.escape, 1);
}

// A multi-scan file is read whole by jpeg_start_decompress. If its bytes ran out there, it is
// complete only when the scans read still cover everything: every coefficient of every
// component refined to its last bit (progressive), or every component scanned (sequential).
bool scansComplete(Session &session)
{
    jpeg_decompress_struct &cinfo = session.cinfo;
    if (!session.inputRanOut || !jpeg_has_multiple_scans(&cinfo))
        return true;
    if (cinfo.progressive_mode) {
        for (int component = 0; component < cinfo.num_components; ++component) {
            for (int coefficient = 0; coefficient < DCTSIZE2; ++coefficient) {
                // -1: never sent; above 0: its last bits never sent.
                if (cinfo.coef_bits[component][coefficient] != 0)
                    return false;
            }
        }
        return true;
    }
    const unsigned all = (1u << cinfo.num_components) - 1;
    return (session.scannedComponents & all) == all;
}

// The functions holding a setjmp keep no C++ object with a destructor, and their callers'
// objects stay outside the region longjmp crosses.
bool readHeader(Session &session)
{
    if (setjmp(session.escape))
        return false;
    jpeg_create_decompress(&session.cinfo);
    session.cinfo.src = &session.source;
    jpeg_read_header(&session.cinfo, TRUE);
    return true;
}

// Decodes every row into pixels (4 bytes a pixel, bytesPerLine apart). False when libjpeg
// gave up or the bytes ended before the data of the last row.
bool decodeRows(Session &session, uchar *pixels, qsizetype bytesPerLine, JDIMENSION width)
{
    if (setjmp(session.escape))
        return false;
    session.decoding = true;
    jpeg_start_decompress(&session.cinfo);
    if (session.cinfo.output_width != width || session.cinfo.output_components != 4)
        return false;
    if (!scansComplete(session))
        return false;
    while (session.cinfo.output_scanline < session.cinfo.output_height) {
        JSAMPROW rows[RowsPerCall];
        const JDIMENSION first = session.cinfo.output_scanline;
        const JDIMENSION count = std::min(RowsPerCall, session.cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = pixels + qsizetype(first + i) * bytesPerLine;
        if (jpeg_read_scanlines(&session.cinfo, rows, count) == 0)
            return false;
    }
    // Every row is in; whatever follows the last scan is not read, so a missing EOI marker or
    // trailing bytes do not matter.
    session.decoding = false;
    return true;
}

// libjpeg's CMYK output of an Adobe file is inverted (255 = no ink), as Qt reads it too.
void cmykToRgb32(QImage &picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        uchar *pixel = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x, pixel += 4) {
            const int c = pixel[0], m = pixel[1], ye = pixel[2], k = pixel[3];
            *reinterpret_cast<QRgb *>(pixel) = qRgb(c * k / 255, m * k / 255, ye * k / 255);
        }
    }
}

class SessionCloser
{
public:
    explicit SessionCloser(Session &session) : FSession(session) {}
    ~SessionCloser() { jpeg_destroy_decompress(&FSession.cinfo); } // safe on a zeroed struct
    SessionCloser(const SessionCloser &) = delete;
    SessionCloser &operator=(const SessionCloser &) = delete;

private:
    Session &FSession;
};

} // namespace

QImage decode(TByteSource &bytes, const picturelimits::Options &options)
{
    std::vector<JOCTET> piece(PieceSize);
    Session session = {};
    session.cinfo.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = errorExit;
    session.errors.emit_message = emitMessage;
    session.progress.progress_monitor = limitScans;
    session.source.init_source = noSourceAction;
    session.source.fill_input_buffer = fillInput;
    session.source.skip_input_data = skipInput;
    session.source.resync_to_restart = jpeg_resync_to_restart;
    session.source.term_source = noSourceAction;
    session.bytes = &bytes;
    session.piece = piece.data();
    session.cinfo.client_data = &session; // kept by jpeg_create_decompress
    const SessionCloser closer(session);

    jpeg_decompress_struct &cinfo = session.cinfo;
    const std::int64_t limitPixels = picturelimits::limitPixels(options.limitBytes);
    if (!readHeader(session)) {
        if (bytes.failed())
            throw EReadError();
        // libjpeg refuses sides above 65500 itself, after it has read them: that is a
        // picture too large, not an unknown format.
        if (session.errors.msg_code == JERR_IMAGE_TOO_BIG)
            throw EPictureTooLarge(cinfo.image_width, cinfo.image_height, limitPixels);
        throw EInvalidGraphicOperation();
    }
    // A header read past the end of the bytes has made-up scan parameters and no pixel data.
    if (session.inputRanOut)
        throw EInvalidGraphicOperation();

    picturelimits::checkDeclaredSize(cinfo.image_width, cinfo.image_height, options);
    // A multi-scan file (progressive, or one scan per component) is held whole as coefficients
    // before its first row comes out, 3 to 6 bytes a pixel beside the picture's 4. What the
    // picture leaves of the limit is all libjpeg may take for them: past it, libjpeg asks for a
    // backing store, which it has none of, and the picture is refused instead of swapped.
    const std::int64_t pictureBytes =
        std::int64_t(cinfo.image_width) * std::int64_t(cinfo.image_height) * 4;
    cinfo.mem->max_memory_to_use =
        long(std::max<std::int64_t>(options.limitBytes - pictureBytes, 1));

    cinfo.progress = &session.progress;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    if (cmyk)
        cinfo.out_color_space = JCS_CMYK;
    else
        // Format_RGB32 in memory order; libjpeg-turbo sets the X byte to 0xFF.
        cinfo.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;

    QImage picture(int(cinfo.image_width), int(cinfo.image_height), QImage::Format_RGB32);
    if (picture.isNull())
        throw EPictureTooLarge(cinfo.image_width, cinfo.image_height, limitPixels);
    if (!decodeRows(session, picture.bits(), picture.bytesPerLine(), cinfo.image_width)) {
        if (bytes.failed())
            throw EReadError();
        if (session.errors.msg_code == JERR_NO_BACKING_STORE)
            throw EPictureTooLarge(cinfo.image_width, cinfo.image_height, limitPixels);
        throw EInvalidGraphicOperation();
    }
    if (cmyk)
        cmykToRgb32(picture);
    return picture;
}

} // namespace jpegdecoder
