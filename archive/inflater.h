// Decoder of the archive's compressed streams.
//
// The format is RFC 1951 DEFLATE with three changes:
//   1. every block opens with a 4-bit header: bits 0-2 the kind (5 fixed
//      codes, 6 dynamic codes, 7 stored), bit 3 the last-block flag;
//   2. a stored block carries only its 16-bit LEN, no complemented copy;
//   3. a dynamic header sends the code-length code lengths in the order
//      18, 17, 16, 0, 1, ..., 15.
// There is no wrapper and no trailer; the decoded size is stored elsewhere.
//
// Output leaves through a ByteSink in pieces of exactly 32,768 bytes (one
// full window) and one final shorter piece, so n decoded bytes take
// n / 32768 + 1 writes. The decoder gathers OutputAreaSize bytes before it
// writes them, so the first pieces of a long output arrive together.
#pragma once
#include "common/file.h"

const u32 WindowSize = 32768;
// The decoder's flat output area, behind WindowSize bytes of history. With
// its tables the decoder allocates about 115 KiB, and 4 KiB of input.
const u32 OutputAreaSize = 2 * WindowSize;
const u32 InputBlockSize = 4096;

class ByteSink {
public:
    virtual ~ByteSink() {}
    virtual bool IsReady() = 0;
    // `count` is at most WindowSize.
    virtual void Write(const u8* data, u32 count) = 0;
};

// Fills a caller's buffer. It is bounded by the buffer: bytes beyond its end
// are refused, and the sink then stops being ready, which ends the decode.
class MemorySink : public ByteSink {
public:
    MemorySink(u8* destination, u32 capacity) : next(destination), room(capacity), overflow(false) {}
    bool IsReady() override { return next != nullptr && !overflow; }
    void Write(const u8* data, u32 count) override;
    u32 Room() const { return room; }

private:
    u8* next;
    u32 room;
    bool overflow;
};

// Writes at the current position of an open file. The first failed or short
// write stops it (the decoder then ends), keeping the system's code for it.
class FileSink : public ByteSink {
public:
    explicit FileSink(FileHandle file) : file(file), result(WriteDone), error(0) {}
    bool IsReady() override { return result == WriteDone; }
    void Write(const u8* data, u32 count) override;
    WriteResult Result() const { return result; }
    u32 Error() const { return error; }

private:
    FileHandle file;
    WriteResult result;
    u32 error;
};

// The single read operation the decoder takes its input through: up to
// `want` bytes into `buffer`. Returns the count read (0 at the end of the
// input) or -1 when no more input can be had (an unreadable file, a volume
// that could not be opened); a -1 ends the decode at once as a failure.
typedef i32 (*InflateRead)(void* context, u8* buffer, u32 want);
// Hands back `count` bytes that were read but not consumed, so the source's
// position ends just behind the last byte of the stream. May be null.
typedef void (*InflateUnread)(void* context, u32 count);

struct InflateSource {
    InflateRead read;
    InflateUnread unread;
    void* context;
    u32 limit;     // bytes the stream may take from the source, when limited
    bool limited;  // false: read until the source ends
};

// A source over an open file, read from its current position; a limit of 0
// means no limit.
InflateSource FileInflateSource(FileHandle* file, u32 limit);

enum InflateStatus {
    InflateOk = 0,
    InflateBadData = 1,       // bad header counts, repeat past the end, incomplete
                              // code, invalid symbol, use of an empty code
    InflateBadBlock = 2,      // block kinds 0-4, a code with too many codes
    InflateNoMemory = 3,      // the window or tables could not be allocated
    InflateInputEnded = 4,    // the input ended (or failed) inside the stream
    InflateSinkRefused = 5,   // the sink stopped being ready (output too long)
};

// Decodes one whole stream into `sink`. When the decode fails, only whole
// windows have reached the sink.
InflateStatus InflateStream(InflateSource& source, ByteSink& sink);

// Decodes into `destination`, which holds `capacity` bytes; true only when
// the stream decodes cleanly and fits. *produced (optional) receives the
// number of bytes written.
bool InflateToMemory(u8* destination, u32 capacity, InflateSource& source, u32* produced = nullptr);
// Decodes into an open file at its current position.
bool InflateToFile(FileHandle output, InflateSource& source);
