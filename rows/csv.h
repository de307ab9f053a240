// Reading CSV (RFC 4180, comma or tab) record by record from any byte source, with every
// record's size capped so that no input can make memory grow without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace hv::rows {

// Where the bytes come from.
class Source {
public:
    virtual ~Source() = default;
    // Up to size bytes into buffer: the count read, 0 at the end, -1 on a read error.
    virtual long Read(char* buffer, std::size_t size) = 0;
    // Back to where reading began, for a second pass; false when the bytes cannot be read
    // again (a pipe), and then nothing has moved.
    virtual bool Rewind() { return false; }
};

// A file descriptor; it rewinds when it can seek (a regular file, also as standard input).
class FdSource final : public Source {
public:
    explicit FdSource(int fd);
    long Read(char* buffer, std::size_t size) override;
    bool Rewind() override;

private:
    int fd_;
    long long start_;  // the offset reading began at, -1 where the descriptor cannot seek
};

class MemorySource final : public Source {
public:
    explicit MemorySource(std::string_view data) : data_(data), all_(data) {}
    long Read(char* buffer, std::size_t size) override;
    bool Rewind() override
    {
        data_ = all_;
        return true;
    }

private:
    std::string_view data_, all_;
};

// Any source copied once into a temporary file as it is read, so that it can be read
// again: the second pass of a pipe costs disk, never memory.
class SpooledSource final : public Source {
public:
    explicit SpooledSource(Source& source) : source_(source) {}
    ~SpooledSource() override;
    SpooledSource(const SpooledSource&) = delete;
    SpooledSource& operator=(const SpooledSource&) = delete;
    long Read(char* buffer, std::size_t size) override;
    // Reads the rest of the original through first; false when no temporary file could be
    // made or the copy failed, and then the input is spent.
    bool Rewind() override;

private:
    Source& source_;
    std::FILE* spool_ = nullptr;
    bool failed_ = false;
    bool replaying_ = false;
};

// A record longer than this (its text plus one byte per field) is not kept: its fields are
// counted and skipped, and the record is flagged. A 1 GB line costs no more memory than this.
constexpr std::size_t kMaxRecordBytes = std::size_t{1} << 20;

struct Record {
    std::string text;               // the kept fields' bytes back to back, quotes removed
    std::vector<uint32_t> ends;     // end of each kept field in text
    std::size_t fields = 0;         // fields in the record, kept or not
    std::size_t filled = 0;         // fields up to the last one holding more than blanks, kept or not
    int64_t line = 0;               // the line it starts on, 1 for the first
    bool tooLong = false;           // longer than kMaxRecordBytes: only leading fields kept
    bool unclosedQuote = false;     // a quoted field ran to the end of the input

    std::size_t Kept() const { return ends.size(); }
    std::string_view Field(std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(begin, ends[i] - begin);
    }
    void Clear();
};

class CsvReader {
public:
    explicit CsvReader(Source& source);

    // The delimiter of the first line: whichever of comma and tab comes first outside quotes
    // (comma when neither does). Reads ahead without consuming anything.
    char GuessDelimiter();
    void SetDelimiter(char delimiter) { delimiter_ = delimiter; }
    // Fields past the first `count` of each record are counted, not kept (Record::filled
    // still tells whether any of them held something).
    void KeepFields(std::size_t count) { keep_ = count; }

    enum class Got { Record, End, ReadError };
    // The next record. Lines with nothing on them, or nothing but spaces and tabs, hold no
    // record and are passed over.
    Got Next(Record& record);

private:
    bool Fill();  // more bytes into the buffer; false at the end or on an error

    Source& source_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, len_ = 0;
    bool end_ = false, error_ = false;
    bool skipLf_ = false;  // a CR just ended a record: a following LF belongs to it
    int64_t line_ = 1;
    char delimiter_ = ',';
    std::size_t keep_ = SIZE_MAX;
};

// Appends a field to a CSV line, quoted when it holds a comma, a quote or a line break.
void AppendField(std::string& line, std::string_view field);

}  // namespace hv::rows
