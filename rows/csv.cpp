#include "rows/csv.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace hv::rows {

FdSource::FdSource(int fd) : fd_(fd), start_(::lseek(fd, 0, SEEK_CUR)) {}

bool FdSource::Rewind()
{
    return start_ >= 0 && ::lseek(fd_, static_cast<off_t>(start_), SEEK_SET) == static_cast<off_t>(start_);
}

long FdSource::Read(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -1;
    }
}

long MemorySource::Read(char* buffer, std::size_t size)
{
    const std::size_t n = std::min(size, data_.size());
    if (n) std::memcpy(buffer, data_.data(), n);
    data_.remove_prefix(n);
    return static_cast<long>(n);
}

SpooledSource::~SpooledSource()
{
    if (spool_) std::fclose(spool_);
}

long SpooledSource::Read(char* buffer, std::size_t size)
{
    if (replaying_) {
        const std::size_t got = std::fread(buffer, 1, size, spool_);
        return got == 0 && std::ferror(spool_) ? -1 : static_cast<long>(got);
    }
    const long got = source_.Read(buffer, size);
    if (got > 0 && !failed_) {
        if (!spool_) spool_ = std::tmpfile();
        failed_ = !spool_ || std::fwrite(buffer, 1, static_cast<std::size_t>(got), spool_) != static_cast<std::size_t>(got);
    }
    if (got < 0) failed_ = true;
    return got;
}

bool SpooledSource::Rewind()
{
    if (replaying_) {
        std::rewind(spool_);
        return true;
    }
    char buffer[1 << 16];
    for (long got; !failed_ && (got = Read(buffer, sizeof buffer)) > 0;) {
    }
    if (failed_) return false;
    // Nothing read at all: an empty spool still replays as the empty input it was.
    if (!spool_ && !(spool_ = std::tmpfile())) return false;
    if (std::fflush(spool_) != 0) return false;
    std::rewind(spool_);
    replaying_ = true;
    return true;
}

void Record::Clear()
{
    text.clear();
    ends.clear();
    fields = 0;
    filled = 0;
    line = 0;
    tooLong = false;
    unclosedQuote = false;
    // One long record must not pin a megabyte in every reused record.
    if (text.capacity() > 64 * 1024) std::string().swap(text);
    if (ends.capacity() > 4096) std::vector<uint32_t>().swap(ends);
}

CsvReader::CsvReader(Source& source) : source_(source), buffer_(64 * 1024) {}

bool CsvReader::Fill()
{
    if (end_ || error_) return false;
    if (pos_ > 0 && pos_ < len_) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, len_ - pos_);
    }
    len_ -= pos_;
    pos_ = 0;
    if (len_ == buffer_.size()) return true;  // only GuessDelimiter reads ahead this far
    const long got = source_.Read(buffer_.data() + len_, buffer_.size() - len_);
    if (got < 0) error_ = true;
    if (got <= 0) {
        end_ = true;
        return false;
    }
    len_ += static_cast<std::size_t>(got);
    return true;
}

char CsvReader::GuessDelimiter()
{
    bool quoted = false;
    std::size_t i = pos_;
    for (;;) {
        if (i == len_) {
            const std::size_t before = len_ - pos_;
            if (len_ - pos_ == buffer_.size() || !Fill()) return ',';
            i = pos_ + before;
        }
        const char c = buffer_[i++];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == ',' || c == '\t') return c;
        if (c == '\n' || c == '\r') return ',';
    }
}

CsvReader::Got CsvReader::Next(Record& r)
{
    r.Clear();
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    State state = State::FieldStart;
    bool any = false;          // anything at all on this record's line
    std::size_t size = 0;      // bytes of the record, kept or not, plus one per field
    std::size_t fieldStart = 0;
    bool keeping = true;       // this field's bytes are being kept
    bool blank = true;         // this field holds nothing but spaces and tabs so far
    bool visible = false;      // the line holds more than spaces and tabs

    const auto keep = [&](const char* p, std::size_t n) {
        // Stops at the field's first byte that is no blank: one comparison for most fields.
        for (std::size_t k = 0; blank && k < n; ++k) blank = p[k] == ' ' || p[k] == '\t';
        size += n;
        if (size + r.fields > kMaxRecordBytes) r.tooLong = true;
        if (keeping && !r.tooLong) r.text.append(p, n);
    };
    const auto endField = [&] {
        if (keeping && !r.tooLong) {
            r.ends.push_back(static_cast<uint32_t>(r.text.size()));
        } else if (keeping) {
            r.text.resize(fieldStart);  // a field cut short is not kept at all
        }
        ++r.fields;
        if (!blank) r.filled = r.fields;
        blank = true;
        if (size + r.fields > kMaxRecordBytes) r.tooLong = true;
        fieldStart = r.text.size();
        keeping = r.ends.size() < keep_ && !r.tooLong;
        state = State::FieldStart;
    };
    keeping = keep_ > 0;
    r.line = line_;

    for (;;) {
        if (pos_ == len_ && !Fill()) {
            if (error_) return Got::ReadError;
            if (!any || !visible) return Got::End;
            if (state == State::Quoted) r.unclosedQuote = true;
            endField();
            return Got::Record;
        }
        const char c = buffer_[pos_];
        if (skipLf_) {
            skipLf_ = false;
            if (c == '\n') {
                ++pos_;
                continue;
            }
        }
        switch (state) {
        case State::FieldStart:
        case State::Unquoted:
            if (c == '"' && state == State::FieldStart) {
                state = State::Quoted;
                any = visible = true;
                ++pos_;
                break;
            }
            if (c == '\n' || c == '\r') {
                ++pos_;
                ++line_;
                skipLf_ = c == '\r';
                if (!any || !visible) {  // an empty or blank line: no record
                    if (any) {
                        r.Clear();
                        any = false;
                        size = fieldStart = 0;
                        keeping = keep_ > 0;
                        blank = true;
                        state = State::FieldStart;
                    }
                    r.line = line_;
                    break;
                }
                endField();
                return Got::Record;
            }
            any = true;
            if (c == delimiter_) {
                visible = visible || c != '\t';
                ++pos_;
                endField();
                break;
            }
            {
                // The plain bytes up to the next special one, in one piece.
                std::size_t j = pos_;
                while (j < len_) {
                    const char b = buffer_[j];
                    if (b == delimiter_ || b == '\n' || b == '\r') break;
                    ++j;
                }
                keep(buffer_.data() + pos_, j - pos_);
                visible = visible || !blank;
                pos_ = j;
                state = State::Unquoted;  // a quote inside a plain field is taken as it is
            }
            break;
        case State::Quoted: {
            std::size_t j = pos_;
            while (j < len_ && buffer_[j] != '"' && buffer_[j] != '\n') ++j;
            keep(buffer_.data() + pos_, j - pos_);
            pos_ = j;
            if (j < len_) {
                ++pos_;
                if (buffer_[j] == '"') {
                    state = State::QuoteInQuoted;
                } else {
                    ++line_;
                    keep("\n", 1);
                }
            }
            break;
        }
        case State::QuoteInQuoted:
            if (c == '"') {  // a doubled quote stands for one
                keep("\"", 1);
                ++pos_;
                state = State::Quoted;
            } else {
                // After the closing quote: more text joins the field as it is.
                state = State::Unquoted;
            }
            break;
        }
    }
}

void AppendField(std::string& line, std::string_view field)
{
    // Fields are short: a plain loop beats a search for each of four bytes.
    const bool plain = std::none_of(field.begin(), field.end(), [](char c) {
        return c == ',' || c == '"' || c == '\r' || c == '\n';
    });
    if (plain) {
        line.append(field);
        return;
    }
    line += '"';
    for (char c : field) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace hv::rows
