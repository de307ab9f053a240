#include "cli/batch.h"

#include "core/numbers.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace hv::cli {

namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Where each known column sits in the input, -1 when absent.
struct Columns {
    enum Name { Standard, T, Hkl, D, SigmaD, SigmaT, Pattern, Count };
    std::array<int, Count> at{};
    std::size_t count = 0;  // columns of the header
};

constexpr std::array<std::string_view, Columns::Count> kNames = {"standard", "t_c",     "hkl",    "d",
                                                                  "sigma_d",  "sigma_t", "pattern"};
constexpr int kRequired = 4;  // the first four names

// Header names in any case, blanks around them ignored. Exit code 2 on failure.
bool ReadHeader(const Record& header, Columns& c, std::string& why)
{
    c.at.fill(-1);
    c.count = header.fields;
    if (header.tooLong || header.Kept() != header.fields) {
        why = "the header line is longer than " + std::to_string(kMaxRecordBytes) + " bytes";
        return false;
    }
    for (std::size_t i = 0; i < header.Kept(); ++i) {
        std::string_view name = header.Field(i);
        if (i == 0 && name.starts_with("\xEF\xBB\xBF")) name.remove_prefix(3);  // a byte-order mark
        name = Trim(name);
        for (int k = 0; k < Columns::Count; ++k) {
            const std::string_view want = kNames[static_cast<std::size_t>(k)];
            const bool same = name.size() == want.size() &&
                              std::equal(name.begin(), name.end(), want.begin(), [](char a, char b) {
                                  return std::tolower(static_cast<unsigned char>(a)) == b;
                              });
            if (!same) continue;
            if (c.at[static_cast<std::size_t>(k)] >= 0) {
                why = "column " + std::string(want) + " appears twice in the header";
                return false;
            }
            c.at[static_cast<std::size_t>(k)] = static_cast<int>(i);
        }
    }
    std::string missing;
    for (int k = 0; k < kRequired; ++k) {
        if (c.at[static_cast<std::size_t>(k)] < 0) {
            missing += (missing.empty() ? "" : ", ") + std::string(kNames[static_cast<std::size_t>(k)]);
        }
    }
    if (!missing.empty()) {
        why = "missing column" + std::string(missing.find(',') == std::string::npos ? " " : "s ") + missing +
              ": the header needs standard, t_c, hkl and d (optional: sigma_d, sigma_t, pattern)";
        return false;
    }
    return true;
}

std::string_view FieldOf(const Record& r, const Columns& c, Columns::Name name)
{
    const int i = c.at[name];
    return i >= 0 && static_cast<std::size_t>(i) < r.Kept() ? r.Field(static_cast<std::size_t>(i)) : std::string_view();
}

// A row's inputs, read with the rules of the command line.
struct RowInput {
    const Standard* standard = nullptr;
    float tCelsius = 0;
    Peak peak;
    double sigmaT = kNone;
};

std::string RecordProblem(const Record& r)
{
    if (r.tooLong) {
        return "line " + std::to_string(r.line) + " is longer than " + std::to_string(kMaxRecordBytes) +
               " bytes and was not read";
    }
    if (r.unclosedQuote) {
        return "line " + std::to_string(r.line) + ": a quoted field is not closed before the end of the input";
    }
    return {};
}

bool ReadOptional(std::string_view field, const char* name, double& value, std::string& why)
{
    if (Trim(field).empty()) return true;
    if (!ParseNumber(field, value, why)) {
        why = std::string(name) + ": " + why;
        return false;
    }
    return true;
}

bool ReadRow(const Record& r, const Columns& c, RowInput& in, std::string& why)
{
    why = RecordProblem(r);
    if (!why.empty()) return false;
    in.standard = ReadStandard(FieldOf(r, c, Columns::Standard), why);
    if (!in.standard) return false;
    if (!ParseTemperature(FieldOf(r, c, Columns::T), in.tCelsius, why)) return false;
    const auto reflection = ParseReflection(FieldOf(r, c, Columns::Hkl), *in.standard, why);
    if (!reflection) return false;
    in.peak.reflection = *reflection;
    if (!ParseNumber(FieldOf(r, c, Columns::D), in.peak.d, why)) {
        why = "d: " + why;
        return false;
    }
    in.peak.sigmaD = kNone;
    in.sigmaT = kNone;
    return ReadOptional(FieldOf(r, c, Columns::SigmaD), "sigma_d", in.peak.sigmaD, why) &&
           ReadOptional(FieldOf(r, c, Columns::SigmaT), "sigma_t", in.sigmaT, why);
}

// ---- Without a pattern column: one output row per input row ----

// The input's columns as they came, padded or cut to the header's count.
void AppendInput(std::string& line, const Record& r, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (i) line += ',';
        // A record cut short keeps nothing that could be taken for its data.
        if (!r.tooLong && i < r.Kept()) AppendField(line, r.Field(i));
    }
}

// Appends the row's output line; true for an error row.
bool ProcessRow(const Record& r, const Columns& c, std::string& out)
{
    AppendInput(out, r, c.count);
    RowInput in;
    std::string why;
    Result result;
    if (ReadRow(r, c, in, why)) {
        result = Fit(*in.standard, in.tCelsius, {&in.peak, 1}, in.sigmaT);
    } else {
        result.message = std::move(why);
    }
    AppendResult(out, result);
    out += '\n';
    return result.status == Status::Error;
}

struct Chunk {
    std::vector<Record> records;
    std::size_t used = 0;
    std::string out;
    int64_t errors = 0;
    uint64_t seq = 0;
};

void ProcessChunk(Chunk& chunk, const Columns& c)
{
    chunk.out.clear();
    chunk.errors = 0;
    for (std::size_t i = 0; i < chunk.used; ++i) chunk.errors += ProcessRow(chunk.records[i], c, chunk.out);
}

// Rows per chunk: enough to make the hand-over cost nothing beside the engine's, few enough
// that every worker has some early on.
constexpr std::size_t kChunkRows = 2048;
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

// Fills a chunk from the reader; false when no more records will come.
bool FillChunk(CsvReader& reader, Chunk& chunk, CsvReader::Got& got)
{
    chunk.used = 0;
    std::size_t bytes = 0;
    while (chunk.used < kChunkRows && bytes < kChunkBytes) {
        if (chunk.records.size() == chunk.used) chunk.records.emplace_back();
        Record& r = chunk.records[chunk.used];
        got = reader.Next(r);
        if (got != CsvReader::Got::Record) return false;
        bytes += r.text.size();
        ++chunk.used;
    }
    return true;
}

// Each worker in turn cuts the next chunk from the input, computes it while its rows are
// still in its cache, and hands the text on; whichever worker finds the next chunk in line
// finished writes it, and any after it that wait. No thread only reads or only writes, so
// the cores run nothing but workers. At most 2 x jobs + 2 chunks exist at any time.
void Stream(CsvReader& reader, const Columns& c, const Sink& sink, unsigned jobs, BatchSummary& summary,
            CsvReader::Got& got)
{
    if (jobs <= 1) {
        Chunk chunk;
        for (bool more = true; more;) {
            more = FillChunk(reader, chunk, got);
            ProcessChunk(chunk, c);
            sink(chunk.out);
            summary.rows += static_cast<int64_t>(chunk.used);
            summary.errors += chunk.errors;
        }
        return;
    }
    std::vector<std::unique_ptr<Chunk>> all(2 * jobs + 2);
    std::vector<Chunk*> idle;
    for (auto& p : all) {
        p = std::make_unique<Chunk>();
        idle.push_back(p.get());
    }
    std::mutex readLock;  // the reader and the sequence numbers
    bool ended = false;
    uint64_t nextSeq = 0;
    std::mutex m;  // idle, done, writing, nextWrite
    std::condition_variable freed;
    std::map<uint64_t, Chunk*> done;
    bool writing = false;
    uint64_t nextWrite = 0;

    const auto work = [&] {
        for (;;) {
            Chunk* chunk = nullptr;
            {
                std::unique_lock lock(m);
                freed.wait(lock, [&] { return !idle.empty(); });
                chunk = idle.back();
                idle.pop_back();
            }
            {
                std::lock_guard lock(readLock);
                if (ended) {
                    std::lock_guard back(m);
                    idle.push_back(chunk);
                    freed.notify_all();
                    return;
                }
                ended = !FillChunk(reader, *chunk, got);
                chunk->seq = nextSeq++;
            }
            ProcessChunk(*chunk, c);
            std::unique_lock lock(m);
            done[chunk->seq] = chunk;
            if (writing) continue;  // the worker writing now will take it
            writing = true;
            for (auto it = done.find(nextWrite); it != done.end(); it = done.find(nextWrite)) {
                Chunk* next = it->second;
                done.erase(it);
                lock.unlock();
                sink(next->out);
                summary.rows += static_cast<int64_t>(next->used);
                summary.errors += next->errors;
                lock.lock();
                idle.push_back(next);
                ++nextWrite;
                freed.notify_all();
            }
            writing = false;
        }
    };
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < jobs; ++i) workers.emplace_back(work);
    work();
    for (auto& w : workers) w.join();
}

// ---- With a pattern column: one output row per pattern ----

struct Pattern {
    std::string name, standardText, tText;  // as the pattern's first row gives them
    const Standard* standard = nullptr;
    float tCelsius = 0;
    double sigmaT = kNone;
    int64_t firstGoodLine = 0;
    int64_t rows = 0;
    std::vector<Peak> peaks;
    std::string error;  // the first bad row, by its line
    Result result;
};

bool SameSigma(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

void AddToPattern(Pattern& p, const Record& r, const Columns& c)
{
    if (p.rows++ == 0) {
        p.standardText = FieldOf(r, c, Columns::Standard);
        p.tText = FieldOf(r, c, Columns::T);
    }
    if (!p.error.empty()) return;
    const std::string at = "line " + std::to_string(r.line) + ": ";
    RowInput in;
    std::string why;
    if (!ReadRow(r, c, in, why) || !CheckPeak(in.peak, why)) {
        p.error = r.tooLong || r.unclosedQuote ? why : at + why;
        return;
    }
    if (p.peaks.empty()) {
        p.standard = in.standard;
        p.tCelsius = in.tCelsius;
        p.sigmaT = in.sigmaT;
        p.firstGoodLine = r.line;
    } else {
        const std::string first = " than on line " + std::to_string(p.firstGoodLine) + " of the same pattern";
        if (in.standard != p.standard) {
            p.error = at + "another standard" + first;
        } else if (in.tCelsius != p.tCelsius) {
            p.error = at + "another temperature" + first;
        } else if (!SameSigma(in.sigmaT, p.sigmaT)) {
            p.error = at + "another sigma_t" + first;
        }
        if (!p.error.empty()) return;
    }
    p.peaks.push_back(in.peak);
}

void ByPattern(CsvReader& reader, const Columns& c, const Sink& sink, unsigned jobs, BatchSummary& summary,
               CsvReader::Got& got)
{
    std::vector<Pattern> patterns;
    std::unordered_map<std::string, std::size_t> index;
    Record r;
    while ((got = reader.Next(r)) == CsvReader::Got::Record) {
        const std::string name(FieldOf(r, c, Columns::Pattern));
        const auto [it, added] = index.try_emplace(name, patterns.size());
        if (added) {
            patterns.emplace_back();
            patterns.back().name = name;
        }
        AddToPattern(patterns[it->second], r, c);
    }
    // Patterns are independent: fit them on every worker.
    std::atomic<std::size_t> next{0};
    const auto fitAll = [&] {
        for (std::size_t i; (i = next++) < patterns.size();) {
            Pattern& p = patterns[i];
            if (p.error.empty()) {
                p.result = Fit(*p.standard, p.tCelsius, p.peaks, p.sigmaT);
            } else {
                p.result.message = p.error;
            }
        }
    };
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < std::min<std::size_t>(jobs, patterns.size()); ++i) workers.emplace_back(fitAll);
    fitAll();
    for (auto& w : workers) w.join();

    std::string out;
    for (const Pattern& p : patterns) {
        AppendField(out, p.name);
        out += ',';
        AppendField(out, p.standardText);
        out += ',';
        AppendField(out, p.tText);
        out += ',' + std::to_string(p.rows);
        AppendResult(out, p.result);
        out += '\n';
        summary.errors += p.result.status == Status::Error;
        if (out.size() > (std::size_t{1} << 16)) {
            sink(out);
            out.clear();
        }
    }
    sink(out);
    summary.rows = static_cast<int64_t>(patterns.size());
}

}  // namespace

const Standard* ReadStandard(std::string_view text, std::string& why)
{
    const std::string_view name = Trim(text);
    // The exact name first: it spares the letter-case comparison on almost every row.
    if (const Standard* s = FindStandard(name)) return s;
    if (const Standard* s = FindStandardAnyCase(name)) return s;
    why = name.empty() ? "standard: empty, give one of " + StandardNames()
                       : "standard " + Quoted(name) + " is not known: give one of " + StandardNames();
    return nullptr;
}

bool ParsePeak(std::string_view text, const Standard& standard, Peak& peak, std::string& why)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        why = "peak " + Quoted(text) + ": write HKL:D or HKL:D:SIGMA_D, as 200:2.75";
        return false;
    }
    const auto reflection = ParseReflection(text.substr(0, colon), standard, why);
    if (!reflection) return false;
    std::string_view rest = text.substr(colon + 1);
    const std::size_t second = rest.find(':');
    const std::string_view dText = rest.substr(0, second);
    Peak p;
    p.reflection = *reflection;
    if (!ParseNumber(dText, p.d, why)) {
        why = "peak " + Quoted(text) + ": d: " + why;
        return false;
    }
    if (second != std::string_view::npos && !ParseNumber(rest.substr(second + 1), p.sigmaD, why)) {
        why = "peak " + Quoted(text) + ": sigma_d: " + why;
        return false;
    }
    if (!CheckPeak(p, why)) {
        why = "peak " + Quoted(text) + ": " + why;
        return false;
    }
    peak = p;
    return true;
}

BatchSummary RunBatch(Source& source, const Sink& sink, unsigned jobs)
{
    BatchSummary summary;
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    Record header;
    CsvReader::Got got = reader.Next(header);
    Columns c;
    if (got == CsvReader::Got::ReadError) {
        summary.error = "the input cannot be read";
    } else if (got == CsvReader::Got::End) {
        summary.error = "the input is empty: a header line is needed (standard,t_c,hkl,d)";
    } else {
        ReadHeader(header, c, summary.error);
    }
    if (!summary.error.empty()) {
        summary.exitCode = 2;
        return summary;
    }

    const bool patterned = c.at[Columns::Pattern] >= 0;
    std::string head;
    if (patterned) {
        head = std::string(kPatternHeader);
    } else {
        AppendInput(head, header, c.count);
    }
    head += ',';
    head += kResultHeader;
    head += '\n';
    sink(head);

    // Fields past the header's are cut anyway: not kept.
    reader.KeepFields(c.count);
    if (patterned) {
        ByPattern(reader, c, sink, jobs, summary, got);
    } else {
        Stream(reader, c, sink, jobs, summary, got);
    }
    if (got == CsvReader::Got::ReadError) {
        summary.exitCode = 2;
        summary.error = "reading the input failed after " + std::to_string(summary.rows) + " rows";
        return summary;
    }
    summary.exitCode = summary.errors ? 1 : 0;
    return summary;
}

}  // namespace hv::cli
