#include "rows/batch.h"

#include "core/numbers.h"
#include "core/units.h"

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

namespace hv::rows {

namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Where each known column sits in the input, -1 when absent.
struct Columns {
    enum Name {
        Standard, T, Hkl, D, SigmaD, SigmaT, Pattern,
        // Peaks as measured, instead of d: 2-theta at a wavelength or beam energy, or the
        // photon energy at the detector's fixed angle.
        TwoTheta, Wavelength, EnergyKev, SigmaTwoTheta, EKev, TwoThetaFixed, SigmaEKev,
        Count
    };
    std::array<int, Count> at{};
    std::size_t count = 0;   // columns of the header
    bool positions = false;  // two_theta or e_kev: the output adds the d used
    bool scale = false;      // some row names a published scale: the output adds the scale used
};

constexpr std::array<std::string_view, Columns::Count> kNames = {
    "standard",  "t_c",        "hkl",         "d",     "sigma_d",         "sigma_t",    "pattern",
    "two_theta", "wavelength", "energy_kev", "sigma_two_theta", "e_kev", "two_theta_fixed", "sigma_e_kev"};
constexpr int kRequired = 3;  // the first three names, and one of d, two_theta, e_kev

// Rows may hold this many fields past the header's and still have them read: enough to tell
// a decimal comma from other extra fields.
constexpr std::size_t kSpareFields = 16;

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
    const auto has = [&](Columns::Name n) { return c.at[n] >= 0; };
    if (!has(Columns::D) && !has(Columns::TwoTheta) && !has(Columns::EKev)) {
        missing += (missing.empty() ? "" : ", ") + std::string("d");
    }
    if (!missing.empty()) {
        why = "missing column" + std::string(missing.find(',') == std::string::npos ? " " : "s ") + missing +
              ": the header needs standard, t_c, hkl and d, or two_theta with wavelength or energy_kev, or e_kev "
              "with two_theta_fixed (optional: sigma_d, sigma_two_theta, sigma_e_kev, sigma_t, pattern)";
        return false;
    }
    // A column that can never be used is a mistake in the header, not in every row.
    struct Needs { Columns::Name column; bool met; const char* why; };
    const Needs needs[] = {
        {Columns::TwoTheta, has(Columns::Wavelength) || has(Columns::EnergyKev),
         "column two_theta needs a column wavelength (angstrom) or energy_kev (keV)"},
        {Columns::EKev, has(Columns::TwoThetaFixed), "column e_kev needs a column two_theta_fixed (degrees)"},
        {Columns::SigmaTwoTheta, has(Columns::TwoTheta), "column sigma_two_theta goes with a column two_theta"},
        {Columns::SigmaEKev, has(Columns::EKev), "column sigma_e_kev goes with a column e_kev"},
    };
    for (const Needs& n : needs) {
        if (has(n.column) && !n.met) {
            why = n.why;
            return false;
        }
    }
    c.positions = has(Columns::TwoTheta) || has(Columns::EKev);
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
    bool converted = false;  // peak holds the d used, checked as Fit checks it
};

bool Digits(std::string_view text, bool sign)
{
    if (sign && !text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// Whether `extra` surplus fields could all come from numbers written with a decimal comma:
// that many disjoint neighbours like "2" "75" among the fields read, and only numbers past
// the header's count (the columns shifted right by the splits).
bool LooksLikeDecimalCommas(const Record& r, std::size_t count, std::size_t extra)
{
    for (std::size_t i = count; i < r.Kept(); ++i) {
        double value = 0;
        std::string why;
        if (!Trim(r.Field(i)).empty() && !ParseNumber(r.Field(i), value, why)) return false;
    }
    std::size_t pairs = 0;
    for (std::size_t i = 0; i + 1 < r.Kept(); ++i) {
        if (Digits(Trim(r.Field(i)), true) && Digits(r.Field(i + 1), false)) {
            ++pairs;
            ++i;
        }
    }
    return pairs >= extra;
}

std::string RecordProblem(const Record& r, std::size_t count)
{
    if (r.tooLong) {
        return "line " + std::to_string(r.line) + " is longer than " + std::to_string(kMaxRecordBytes) +
               " bytes and was not read";
    }
    if (r.unclosedQuote) {
        return "line " + std::to_string(r.line) + ": a quoted field is not closed before the end of the input";
    }
    if (r.filled > count) {
        // Empty fields past the header's are fine: spreadsheets write them.
        std::string why = "line " + std::to_string(r.line) + " has " + std::to_string(r.filled) +
                          " fields but the header " + std::to_string(count);
        if (r.filled <= r.Kept() && LooksLikeDecimalCommas(r, count, r.filled - count)) {
            return why + ": this looks like a decimal comma, a number such as 2,75 split in two at the comma; "
                         "write numbers with \".\" (2.75)";
        }
        return why + ": a field that holds a comma must be in double quotes";
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

bool ReadNumber(std::string_view field, const char* name, double& value, std::string& why)
{
    if (ParseNumber(field, value, why)) return true;
    why = std::string(name) + ": " + why;
    return false;
}

bool Given(const Record& r, const Columns& c, Columns::Name name)
{
    return !Trim(FieldOf(r, c, name)).empty();
}

// The peak of a row of a file with two_theta or e_kev columns: d, 2-theta or an energy,
// exactly one of them, with the geometry and the sigma of that one.
bool ReadPosition(const Record& r, const Columns& c, RowInput& in, std::string& why)
{
    struct Way { Columns::Name x, sigma; };
    const Way ways[] = {{Columns::D, Columns::SigmaD},
                        {Columns::TwoTheta, Columns::SigmaTwoTheta},
                        {Columns::EKev, Columns::SigmaEKev}};
    std::string given, offered;
    const Way* way = nullptr;
    for (const Way& w : ways) {
        if (c.at[w.x] < 0) continue;
        const std::string name(kNames[w.x]);
        offered += (offered.empty() ? "" : " or ") + name;
        if (!Given(r, c, w.x)) continue;
        given += (given.empty() ? "" : " and ") + name;
        way = way ? nullptr : &w;
        if (!way) break;
    }
    if (given.empty()) {
        why = "no peak position: give " + offered;
        return false;
    }
    if (!way) {
        why = "give one peak position per row, not " + given;
        return false;
    }
    for (const Way& w : ways) {
        if (&w != way && c.at[w.sigma] >= 0 && Given(r, c, w.sigma)) {
            why = std::string(kNames[w.sigma]) + " goes with " + std::string(kNames[w.x]) + ", and this row gives " +
                  std::string(kNames[way->x]) + (c.at[way->sigma] >= 0 ? ": use " + std::string(kNames[way->sigma]) : "");
            return false;
        }
    }
    double x = 0, sigma = kNone;
    if (!ReadNumber(FieldOf(r, c, way->x), kNames[way->x].data(), x, why)) return false;
    if (!ReadOptional(FieldOf(r, c, way->sigma), kNames[way->sigma].data(), sigma, why)) return false;
    XUnit unit = XUnit::DAngstrom;
    Geometry g{kNone, kNone};
    if (way->x == Columns::TwoTheta) {
        unit = XUnit::TwoThetaDeg;
        const bool lambda = Given(r, c, Columns::Wavelength), energy = Given(r, c, Columns::EnergyKev);
        if (lambda == energy) {
            why = lambda ? "give wavelength or energy_kev, not both"
                         : "two_theta needs wavelength (angstrom) or energy_kev (keV)";
            return false;
        }
        if (lambda && !ReadNumber(FieldOf(r, c, Columns::Wavelength), "wavelength", g.wavelength, why)) return false;
        if (energy) {
            double keV = 0;
            if (!ReadNumber(FieldOf(r, c, Columns::EnergyKev), "energy_kev", keV, why)) return false;
            if (!(keV > 0)) {
                why = "energy_kev must be a positive number of keV";
                return false;
            }
            g.wavelength = WavelengthOfEnergy(keV);
        }
    } else if (way->x == Columns::EKev) {
        unit = XUnit::EnergyKev;
        if (!Given(r, c, Columns::TwoThetaFixed)) {
            why = "e_kev needs two_theta_fixed (degrees)";
            return false;
        }
        if (!ReadNumber(FieldOf(r, c, Columns::TwoThetaFixed), "two_theta_fixed", g.twoThetaFixed, why)) return false;
    }
    if (!PeakAt(in.peak.reflection, unit, x, sigma, g, in.peak, why)) return false;
    in.converted = true;
    return true;
}

bool ReadRow(const Record& r, const Columns& c, RowInput& in, std::string& why)
{
    why = RecordProblem(r, c.count);
    if (!why.empty()) return false;
    in.standard = ReadStandard(FieldOf(r, c, Columns::Standard), why);
    if (!in.standard) return false;
    if (!ParseTemperature(FieldOf(r, c, Columns::T), in.tCelsius, why)) return false;
    const auto reflection = ParseReflection(FieldOf(r, c, Columns::Hkl), *in.standard, why);
    if (!reflection) return false;
    in.peak.reflection = *reflection;
    in.sigmaT = kNone;
    if (c.positions) {
        return ReadPosition(r, c, in, why) && ReadOptional(FieldOf(r, c, Columns::SigmaT), "sigma_t", in.sigmaT, why);
    }
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
    const bool read = ReadRow(r, c, in, why);
    if (c.scale) AppendScale(out, in.standard);
    if (read) {
        result = Fit(*in.standard, in.tCelsius, {&in.peak, 1}, in.sigmaT);
    } else {
        result.message = std::move(why);
    }
    // The d of a row whose position was read, also when the row fails later.
    if (c.positions) AppendUsed(out, {&in.peak, in.converted ? 1u : 0u});
    if (read) {
        AppendResult(out, result, *in.standard);
    } else {
        AppendResult(out, result);
    }
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
    std::string why = RecordProblem(r, c.count);
    if (!why.empty()) {
        p.error = why;  // names its line itself
        return;
    }
    if (!ReadRow(r, c, in, why) || !CheckPeak(in.peak, why)) {
        p.error = at + why;
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
        if (c.scale) AppendScale(out, p.error.empty() ? p.standard : nullptr);
        // A pattern with a bad row lists no spacings: they would be only some of its peaks.
        if (c.positions) AppendUsed(out, p.error.empty() ? std::span<const Peak>(p.peaks) : std::span<const Peak>());
        if (p.standard) {
            AppendResult(out, p.result, *p.standard);
        } else {
            AppendResult(out, p.result);
        }
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

// Whether a row names a standard beyond the built-in model's: read ahead through the
// input's standard column, up to the first such row. The real pass reports any problem.
bool NamesPublishedScale(Source& source)
{
    CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    Record r;
    Columns c;
    std::string why;
    if (reader.Next(r) != CsvReader::Got::Record || !ReadHeader(r, c, why)) return false;
    reader.KeepFields(static_cast<std::size_t>(c.at[Columns::Standard]) + 1);
    while (reader.Next(r) == CsvReader::Got::Record) {
        const std::string_view name = Trim(FieldOf(r, c, Columns::Standard));
        if (FindStandard(name)) continue;  // the usual row, compared exactly
        const Standard* s = FindStandardAnyCase(name);
        if (s && IsPublishedScale(*s)) return true;
    }
    return false;
}

}  // namespace

const Standard* ReadStandard(std::string_view text, std::string& why)
{
    const std::string_view name = Trim(text);
    // The exact name first: it spares the letter-case comparison on almost every row.
    if (const Standard* s = FindStandard(name)) return s;
    if (const Standard* s = FindStandardAnyCase(name)) return s;
    why = name.empty() ? "standard: empty, give one of " + AllStandardNames()
                       : "standard " + Quoted(name) + " is not known: give one of " + AllStandardNames();
    return nullptr;
}

bool ParsePeak(std::string_view text, const Standard& standard, Peak& peak, std::string& why)
{
    return ParsePeak(text, standard, XUnit::DAngstrom, Geometry{kNone, kNone}, peak, why);
}

bool ParsePeak(std::string_view text, const Standard& standard, XUnit unit, const Geometry& geometry, Peak& peak,
               std::string& why)
{
    // What the position and its sigma are called in this unit's messages.
    const bool d = unit == XUnit::DAngstrom;
    const std::string x = d ? "D" : unit == XUnit::EnergyKev ? "E" : "2THETA";
    const std::string form = d ? "as 200:2.75" : unit == XUnit::EnergyKev ? "as 200:33.95 (keV)" : "as 200:9.096 (degrees)";
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        why = "peak " + Quoted(text) + ": write HKL:" + x + " or HKL:" + x + ":SIGMA" + (d ? "_D" : "") + ", " + form;
        return false;
    }
    const auto reflection = ParseReflection(text.substr(0, colon), standard, why);
    if (!reflection) return false;
    std::string_view rest = text.substr(colon + 1);
    const std::size_t second = rest.find(':');
    const std::string_view xText = rest.substr(0, second);
    const std::string name = d ? "d" : unit == XUnit::EnergyKev ? "energy" : "2-theta";
    double position = 0, sigma = kNone;
    if (!ParseNumber(xText, position, why)) {
        why = "peak " + Quoted(text) + ": " + name + ": " + why;
        return false;
    }
    if (second != std::string_view::npos && !ParseNumber(rest.substr(second + 1), sigma, why)) {
        why = "peak " + Quoted(text) + ": " + (d ? "sigma_d" : "sigma of " + name) + ": " + why;
        return false;
    }
    Peak p;
    if (!PeakAt(*reflection, unit, position, sigma, geometry, p, why)) {
        why = "peak " + Quoted(text) + ": " + why;
        return false;
    }
    peak = p;
    return true;
}

void AppendUsed(std::string& line, std::span<const Peak> peaks)
{
    const bool sigmas = !peaks.empty() && std::none_of(peaks.begin(), peaks.end(), [](const Peak& p) {
        return std::isnan(p.sigmaD);
    });
    for (int sigma = 0; sigma < 2; ++sigma) {
        line += ',';
        if (sigma && !sigmas) break;
        for (std::size_t i = 0; i < peaks.size(); ++i) {
            if (i) line += ' ';
            line += Shortest(sigma ? peaks[i].sigmaD : peaks[i].d);
        }
    }
}

BatchSummary RunBatch(Source& original, const Sink& sink, unsigned jobs)
{
    BatchSummary summary;
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    // The header says whether there is a scale column before any row is written, so the
    // input is read twice; a pipe goes through a temporary file for that.
    SpooledSource spooled(original);
    Source& source = original.Rewind() ? original : spooled;
    const bool scale = NamesPublishedScale(source);
    if (!source.Rewind()) {
        summary.error = "the input cannot be read";
        summary.exitCode = 2;
        return summary;
    }
    CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    Record header;
    CsvReader::Got got = reader.Next(header);
    Columns c;
    if (got == CsvReader::Got::ReadError) {
        summary.error = "the input cannot be read";
    } else if (got == CsvReader::Got::End) {
        summary.error = "the input is empty: a header line is needed (standard,t_c,hkl,d)";
    } else if (header.fields == 1 && header.Kept() == 1 && header.Field(0).find(';') != std::string_view::npos) {
        // A spreadsheet saved with ";" between fields, as locales with a decimal comma do.
        summary.error = "the header's fields are separated by \";\", but batch reads fields separated by \",\" or "
                        "by tabs: save the file as CSV with commas (and \".\" as decimal separator) or with tabs";
    } else {
        ReadHeader(header, c, summary.error);
    }
    if (!summary.error.empty()) {
        summary.exitCode = 2;
        return summary;
    }

    const bool patterned = c.at[Columns::Pattern] >= 0;
    c.scale = scale;
    std::string head;
    if (patterned) {
        head = std::string(kPatternHeader);
    } else {
        AppendInput(head, header, c.count);
    }
    if (c.scale) head += ",scale";
    if (c.positions) {
        head += ',';
        head += kUsedHeader;
    }
    head += ',';
    head += kResultHeader;
    head += '\n';
    sink(head);

    // Fields past the header's make a row an error; only a few are kept, to say why.
    reader.KeepFields(c.count + kSpareFields);
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

}  // namespace hv::rows
