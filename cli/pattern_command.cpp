#include "cli/pattern_command.h"

#include "rows/batch.h"
#include "rows/csv.h"
#include "rows/pattern_rows.h"
#include "cli/pattern_series.h"
#include "cli/plot.h"
#include "core/numbers.h"
#include "core/units.h"
#include "pattern/hints.h"
#include "pattern/pattern.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace hv::cli {

// The rows every face writes alike.
using namespace hv::rows;

namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = "hivarnisse-calc";

int Usage(const std::string& why)
{
    std::fprintf(stderr, "%s pattern: %s\n", kProgram, why.c_str());
    return 2;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// A number of an option, or why not.
bool OptionNumber(const std::string& text, const char* option, double& value, std::string& why)
{
    if (text.empty()) return true;
    if (!ParseNumber(text, value, why)) {
        why = std::string(option) + ": " + why;
        return false;
    }
    return true;
}

bool Positive(const std::string& text, const char* option, const char* unit, double& value, std::string& why)
{
    if (!OptionNumber(text, option, value, why)) return false;
    if (!text.empty() && !(value > 0)) {
        why = std::string(option) + ": must be a positive number of " + unit;
        return false;
    }
    return true;
}

// "LO:HI" with LO < HI.
bool ParseRange(const std::string& text, const char* option, double& lo, double& hi, std::string& why)
{
    if (text.empty()) return true;
    const std::size_t colon = text.find(':');
    std::string w;
    if (colon == std::string::npos || !ParseNumber(std::string_view(text).substr(0, colon), lo, w) ||
        !ParseNumber(std::string_view(text).substr(colon + 1), hi, w)) {
        why = std::string(option) + ": write LO:HI, two numbers, as 2:30" + (w.empty() ? "" : " (" + w + ")");
        return false;
    }
    if (!(lo < hi)) {
        why = std::string(option) + ": LO must be below HI, not " + Quoted(text);
        return false;
    }
    return true;
}

// "200,220,222" as reflections of one standard.
bool ParseReflectionList(const std::string& text, const Standard& standard, std::vector<Reflection>& out,
                         std::string& why)
{
    out.clear();
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = Trim(rest.substr(0, comma));
        if (item.empty()) {
            why = "--reflections: an empty item in " + Quoted(text) + ": write them as 200,220,222";
            return false;
        }
        const auto r = ParseReflection(item, standard, why);
        if (!r) {
            why = "--reflections: " + why;
            return false;
        }
        if (r->latticeParameter) {
            why = "--reflections: lp is no reflection to fit: write reflections as 200,220,222";
            return false;
        }
        out.push_back(*r);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return true;
}

// One pattern to compute, with everything it needs read beforehand.
struct Item {
    std::string name;          // as the user gave it: the file column
    std::string path;          // what is opened
    std::string standardText;  // as given
    std::string tText;         // as given
    std::string error;         // a bad row of the list: the row is an error without reading the file
    pattern::Options options;
    std::string picture;       // path of its picture, empty without --plot
    std::string label;         // its point in the series picture: the file, or its t_c from a list
};

struct Done {
    bool ready = false;
    pattern::Outcome outcome;  // for its row, written once its neighbours are known; curves
                               // only while its picture may need drawing again with a flag
    std::optional<pattern::Pattern> pattern;  // the file's points, for that picture
    std::string peaks;
    SeriesPoint point;
    bool error = false;
    std::string pictureError;
};

// The options every file shares.
struct Common {
    const Standard* standard = nullptr;
    float tCelsius = 0;
    bool haveT = false;
    pattern::Options base;
    std::string reflectionsText;
    std::string standardText, tText;  // as typed
};

bool ReadCommonOptions(const PatternRequest& q, Common& c, std::string& why)
{
    pattern::Options& o = c.base;
    c.standardText = q.standard;
    c.tText = q.temperature;
    if (!q.standard.empty()) {
        c.standard = ReadStandard(q.standard, why);
        if (!c.standard) {
            why = "--standard: " + why;
            return false;
        }
    }
    if (!q.temperature.empty()) {
        if (!ParseTemperature(q.temperature, c.tCelsius, why)) {
            why = "--temperature: " + why;
            return false;
        }
        c.haveT = true;
    }
    if (!OptionNumber(q.sigmaT, "--sigma-t", o.sigmaT, why)) return false;
    if (!q.sigmaT.empty() && !(o.sigmaT >= 0)) {
        why = "--sigma-t: must be 0 kelvin or more";
        return false;
    }
    if (!q.wavelength.empty() && !q.energy.empty()) {
        why = "give --wavelength or --energy, not both";
        return false;
    }
    if (!Positive(q.wavelength, "--wavelength", "angstrom", o.wavelength, why) ||
        !Positive(q.energy, "--energy", "keV", o.energy, why)) {
        return false;
    }
    if (!q.xUnit.empty()) {
        XUnit unit;
        if (!ParseXUnit(q.xUnit, unit)) {
            why = "--x-unit: " + Quoted(q.xUnit) + " is not one of " + XUnitChoices();
            return false;
        }
        o.unit = unit;
    }
    if (!OptionNumber(q.twoThetaFixed, "--two-theta-fixed", o.twoThetaFixed, why)) return false;
    if (!q.twoThetaFixed.empty() && !(o.twoThetaFixed > 0 && o.twoThetaFixed < 180)) {
        why = "--two-theta-fixed: the detector's angle 2-theta must lie between 0 and 180 degrees";
        return false;
    }
    if (o.unit && NeedsFixedAngle(*o.unit) && q.twoThetaFixed.empty()) {
        why = "--x-unit " + std::string(XUnitName(*o.unit)) +
              ": energy-dispersive spectra need the detector's angle, --two-theta-fixed DEG";
        return false;
    }
    if (!q.pressureGuess.empty() && !q.pressureRange.empty()) {
        why = "give --pressure-guess or --pressure-range, not both";
        return false;
    }
    if (!OptionNumber(q.pressureGuess, "--pressure-guess", o.pressureGuess, why) ||
        !ParseRange(q.pressureRange, "--pressure-range", o.pressureLo, o.pressureHi, why) ||
        !ParseRange(q.range, "--range", o.xLo, o.xHi, why)) {
        return false;
    }
    o.zeroShift = q.zeroShift;
    c.reflectionsText = q.reflections;
    if (!q.reflections.empty() && c.standard) {
        std::vector<Reflection> r;
        if (!ParseReflectionList(q.reflections, *c.standard, r, why)) return false;
    }
    return true;
}

// Completes an item's options for its standard and temperature; false with the row's error.
bool Complete(Item& item, const Standard* standard, float tCelsius, const Common& c)
{
    item.options.standard = standard;
    item.options.tCelsius = tCelsius;
    if (!c.reflectionsText.empty()) {
        std::string why;
        if (!ParseReflectionList(c.reflectionsText, *standard, item.options.reflections, why)) {
            item.error = why;
            return false;
        }
    }
    return true;
}

// ---- --list ----

struct ListColumns {
    int file = -1, t = -1, sigmaT = -1, wavelength = -1, standard = -1;
};

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
}

std::string_view Field(const Record& r, int at)
{
    return at >= 0 && static_cast<std::size_t>(at) < r.Kept() ? r.Field(static_cast<std::size_t>(at)) : std::string_view();
}

// A series point's name: the file's own name without its directories.
std::string FileLabel(std::string_view name)
{
    return fs::path(Trim(name)).filename().string();
}

// A series point's name from a list's t_c as typed, in degrees Celsius unless it says kelvin.
std::string TemperatureLabel(std::string_view tText)
{
    const std::string_view t = Trim(tText);
    if (t.empty() || std::isalpha(static_cast<unsigned char>(t.back()))) return std::string(t);
    return std::string(t) + " °C";
}

// Reads the list into items; false with why for exit status 2.
bool ReadList(const std::string& listPath, const Common& c, std::vector<Item>& items, std::string& why)
{
    const int fd = ::open(listPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = "--list: cannot read " + listPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        why = "--list: cannot read " + listPath + ": it is a directory";
        return false;
    }
    FdSource source(fd);
    CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    Record header;
    const CsvReader::Got got = reader.Next(header);
    if (got != CsvReader::Got::Record) {
        ::close(fd);
        why = "--list " + listPath + ": " +
              (got == CsvReader::Got::End ? "the list is empty: a header line with a file column is needed"
                                          : "the list cannot be read");
        return false;
    }
    ListColumns col;
    const std::array<std::pair<std::string_view, int*>, 5> names = {{{"file", &col.file},
                                                                      {"t_c", &col.t},
                                                                      {"sigma_t", &col.sigmaT},
                                                                      {"wavelength", &col.wavelength},
                                                                      {"standard", &col.standard}}};
    for (std::size_t i = 0; i < header.Kept(); ++i) {
        std::string_view name = header.Field(i);
        if (i == 0 && name.starts_with("\xEF\xBB\xBF")) name.remove_prefix(3);
        name = Trim(name);
        for (const auto& [want, at] : names) {
            if (!SameName(name, want)) continue;
            if (*at >= 0) {
                ::close(fd);
                why = "--list " + listPath + ": column " + std::string(want) + " appears twice in the header";
                return false;
            }
            *at = static_cast<int>(i);
        }
    }
    if (col.file < 0) {
        ::close(fd);
        why = "--list " + listPath +
              ": no file column: the header needs file (optional: t_c, sigma_t, wavelength, standard)";
        return false;
    }
    if (col.standard < 0 && !c.standard) {
        ::close(fd);
        why = "no standard: give --standard or a standard column in the list";
        return false;
    }
    if (col.t < 0 && !c.haveT) {
        ::close(fd);
        why = "no temperature: give --temperature or a t_c column in the list";
        return false;
    }
    const fs::path base = fs::path(listPath).parent_path();
    Record r;
    CsvReader::Got g;
    while ((g = reader.Next(r)) == CsvReader::Got::Record) {
        Item item;
        item.options = c.base;
        const std::string at = "list line " + std::to_string(r.line) + ": ";
        item.name = std::string(Field(r, col.file));
        if (r.tooLong || r.unclosedQuote) {
            item.name.clear();
            item.error = at + (r.tooLong ? "longer than " + std::to_string(kMaxRecordBytes) + " bytes, not read"
                                         : "a quoted field is not closed before the end of the list");
            items.push_back(std::move(item));
            continue;
        }
        const std::string_view fileText = Trim(item.name);
        if (fileText.empty()) {
            item.error = at + "file: empty";
            items.push_back(std::move(item));
            continue;
        }
        const fs::path p(fileText);
        item.path = (p.is_relative() ? base / p : p).string();

        std::string why2;
        const Standard* standard = c.standard;
        item.standardText = col.standard >= 0 ? std::string(Field(r, col.standard)) : std::string();
        if (!Trim(item.standardText).empty()) {
            standard = ReadStandard(item.standardText, why2);
        } else {
            item.standardText = c.standardText;
        }
        float t = c.tCelsius;
        item.tText = col.t >= 0 ? std::string(Field(r, col.t)) : std::string();
        bool ok = standard != nullptr;
        if (!standard && why2.empty()) why2 = "no standard: the row's is empty and --standard is not given";
        if (ok && !Trim(item.tText).empty()) {
            ok = ParseTemperature(item.tText, t, why2);
            if (!ok) why2 = "t_c: " + why2;
        } else if (ok && !c.haveT) {
            ok = false;
            why2 = "no temperature: the row's t_c is empty and --temperature is not given";
        }
        item.label = col.t >= 0 && !Trim(item.tText).empty() ? TemperatureLabel(item.tText) : FileLabel(item.name);
        if (ok && Trim(item.tText).empty()) item.tText = c.tText;
        if (ok && !Trim(Field(r, col.sigmaT)).empty()) {
            ok = ParseNumber(Field(r, col.sigmaT), item.options.sigmaT, why2) && item.options.sigmaT >= 0;
            if (!ok) why2 = "sigma_t: " + (why2.empty() ? std::string("must be 0 kelvin or more") : why2);
        }
        if (ok && !Trim(Field(r, col.wavelength)).empty()) {
            ok = ParseNumber(Field(r, col.wavelength), item.options.wavelength, why2) && item.options.wavelength > 0;
            if (!ok) why2 = "wavelength: " + (why2.empty() ? std::string("must be a positive number of angstrom") : why2);
            item.options.energy = kNone;  // the row's wavelength wins over --energy
        }
        if (!ok) {
            item.error = at + why2;
        } else if (!Complete(item, standard, t, c)) {
            item.error = at + item.error;
        }
        items.push_back(std::move(item));
    }
    ::close(fd);
    if (g == CsvReader::Got::ReadError) {
        why = "--list " + listPath + ": reading the list failed after " + std::to_string(items.size()) + " rows";
        return false;
    }
    if (items.empty()) {
        why = "--list " + listPath + ": the list names no file";
        return false;
    }
    return true;
}

// ---- Pictures ----

// Picture names from the files' stems, unique within the directory; "series" is taken.
void NamePictures(std::vector<Item>& items, const fs::path& dir, PlotFormat format)
{
    std::set<std::string> taken = {"series"};
    for (Item& item : items) {
        std::string stem = fs::path(item.name).stem().string();
        if (stem.empty() || stem == "." || stem == "..") stem = "pattern";
        std::string name = stem;
        for (int k = 2; !taken.insert(name).second; ++k) name = stem + "-" + std::to_string(k);
        item.picture = (dir / (name + std::string(PlotExtension(format)))).string();
    }
}

// ---- Computing ----

// The file's picture; an error message, or empty.
std::string Picture(const Item& item, PlotFormat format, const pattern::Pattern& points, const pattern::Outcome& outcome)
{
    FitCaption caption;
    caption.file = item.name;
    caption.standard = item.options.standard->name;
    caption.tCelsius = item.options.tCelsius;
    try {
        return DrawFit(item.picture, format, points, outcome, caption);
    } catch (const std::exception& e) {
        return "cannot draw " + item.picture + ": " + e.what();
    }
}

Done Compute(const Item& item, bool plot, PlotFormat format, SeriesFollow* follow, std::size_t index)
{
    Done d;
    pattern::Outcome& outcome = d.outcome;
    std::optional<pattern::ReadOutcome> read;
    bool fitted = false;
    if (item.error.empty()) {
        try {
            read = pattern::ReadFile(item.path);
            if (read->ok) {
                fitted = true;
                outcome = follow ? follow->Fit(index, &read->pattern, item.options)
                                 : pattern::FitPattern(read->pattern, item.options);
                // x taken as 2-theta for what looks like a spectrum: say so in the row.
                const std::string note = pattern::AssumedUnitNote(
                    outcome, item.options,
                    outcome.unitSource == "assumed" && pattern::FileHeaderNamesEnergy(item.path));
                if (!note.empty()) {
                    std::string& m = outcome.result.message;
                    m = m.empty() ? note : m + "; " + note;
                }
            } else {
                outcome.result.message = read->error;
            }
        } catch (const std::exception& e) {
            // Memory running out on one file must not take the others with it.
            outcome = pattern::Outcome();
            outcome.result.message = item.path + ": " + e.what();
        }
    } else {
        outcome.result.message = item.error;
    }
    if (follow && !fitted) follow->Fit(index, nullptr, item.options);  // its turn passes
    AppendPeakRows(d.peaks, item.name, outcome);
    d.error = outcome.result.status == Status::Error;
    d.point.label = item.label;
    if (!d.error) {
        d.point.pGpa = outcome.result.pGpa;
        d.point.sigmaPGpa = outcome.result.sigmaPGpa;
    }
    if (plot && read && read->ok) {
        d.pictureError = Picture(item, format, read->pattern, outcome);
        // A pressure may yet be flagged against its neighbours; its picture is then drawn again.
        if (!d.error) {
            d.pattern = std::move(read->pattern);
            return d;
        }
    }
    outcome.curve = {};
    outcome.background = {};
    return d;
}

// A progress line on a terminal, at most ten times a second.
class Progress {
public:
    explicit Progress(std::size_t total) : total_(total), on_(total > 1 && ::isatty(STDERR_FILENO)) {}
    void Show(std::size_t done, bool last = false)
    {
        if (!on_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!last && now - shown_ < std::chrono::milliseconds(100)) return;
        shown_ = now;
        std::fprintf(stderr, "\rpattern: %zu of %zu files", done, total_);
        if (last) std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }

private:
    std::size_t total_;
    bool on_;
    std::chrono::steady_clock::time_point shown_{};
};

}  // namespace

int RunPatternCommand(const PatternRequest& q)
{
    Common c;
    std::string why;
    if (!ReadCommonOptions(q, c, why)) return Usage(why);
    if (!q.list.empty() && !q.files.empty()) return Usage("give files or --list, not both");
    if (q.list.empty() && q.files.empty()) return Usage("no file given: name one or more patterns, or --list");
    PlotFormat format = PlotFormat::Png;
    if (q.plotFormat == "svg") {
        format = PlotFormat::Svg;
    } else if (q.plotFormat != "png") {
        return Usage("--plot-format: " + Quoted(q.plotFormat) + " is not png or svg");
    }

    std::vector<Item> items;
    if (!q.list.empty()) {
        if (!ReadList(q.list, c, items, why)) return Usage(why);
    } else {
        if (!c.standard) return Usage("--standard is required (or a standard column in a --list)");
        if (!c.haveT) return Usage("--temperature is required (or a t_c column in a --list)");
        for (const std::string& f : q.files) {
            Item item;
            item.name = f;
            item.path = f;
            item.standardText = q.standard;
            item.tText = q.temperature;
            item.options = c.base;
            item.label = FileLabel(f);
            Complete(item, c.standard, c.tCelsius, c);
            items.push_back(std::move(item));
        }
    }

    const bool plot = !q.plot.empty();
    if (plot) {
        std::error_code ec;
        fs::create_directories(q.plot, ec);
        if (ec || !fs::is_directory(q.plot)) {
            return Usage("--plot: cannot make the directory " + q.plot + (ec ? ": " + ec.message() : ""));
        }
        NamePictures(items, q.plot, format);
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> peaks(nullptr, &std::fclose);
    if (!q.peaks.empty()) {
        peaks.reset(std::fopen(q.peaks.c_str(), "wb"));
        if (!peaks) return Usage("--peaks: cannot write " + q.peaks + ": " + std::strerror(errno));
    }

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::string head = std::string(kPatternRowHeader) + '\n';
    std::fwrite(head.data(), 1, head.size(), stdout);
    if (peaks) {
        head = std::string(kPeakRowHeader) + '\n';
        std::fwrite(head.data(), 1, head.size(), peaks.get());
    }

    unsigned jobs = q.jobs ? q.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, items.size()));
    std::vector<Done> done(items.size());
    std::vector<SeriesPoint> series(items.size());
    std::size_t nextWrite = 0, errors = 0, pictureErrors = 0;
    std::atomic<std::size_t> next{0};
    std::mutex m;
    Progress progress(items.size());
    std::optional<SeriesFollow> follow;
    if (q.follow) follow.emplace();
    SeriesPoint previous;  // the last written file with a pressure

    // Each worker takes the next file; whoever completes the next row in line writes it and
    // any ready after it, so rows come out in input order while the cores keep fitting. A
    // row with a pressure waits for the next file with one, its neighbour for the flag.
    const auto work = [&] {
        for (std::size_t i; (i = next++) < items.size();) {
            Done d = Compute(items[i], plot, format, follow ? &*follow : nullptr, i);
            const std::lock_guard lock(m);
            done[i] = std::move(d);
            done[i].ready = true;
            while (nextWrite < done.size() && done[nextWrite].ready) {
                Done& w = done[nextWrite];
                if (std::isfinite(w.point.pGpa)) {
                    std::size_t j = nextWrite + 1;
                    while (j < done.size() && done[j].ready && !std::isfinite(done[j].point.pGpa)) ++j;
                    if (j < done.size() && !done[j].ready) break;
                    if (j < done.size() && std::isfinite(previous.pGpa) && JumpsAway(previous, w.point, done[j].point)) {
                        FlagJump(w.outcome, previous, done[j].point);
                        w.point.flagged = true;
                        if (w.pattern) w.pictureError = Picture(items[nextWrite], format, *w.pattern, w.outcome);
                    }
                    previous = w.point;
                }
                const Item& item = items[nextWrite];
                std::string row;
                AppendPatternRow(row, item.name, item.standardText, item.tText, w.outcome);
                std::fwrite(row.data(), 1, row.size(), stdout);
                if (peaks) std::fwrite(w.peaks.data(), 1, w.peaks.size(), peaks.get());
                errors += w.error;
                if (!w.pictureError.empty()) {
                    ++pictureErrors;
                    std::fprintf(stderr, "%s pattern: %s\n", kProgram, w.pictureError.c_str());
                }
                series[nextWrite] = w.point;
                w = Done{};
                w.ready = true;
                ++nextWrite;
            }
            progress.Show(nextWrite);
        }
    };
    {
        std::vector<std::jthread> workers;
        for (unsigned k = 1; k < jobs; ++k) workers.emplace_back(work);
        work();
    }
    progress.Show(nextWrite, true);

    if (plot) {
        const std::string path = (fs::path(q.plot) / ("series" + std::string(PlotExtension(format)))).string();
        const std::string e = DrawSeries(path, format, series);
        if (!e.empty()) {
            ++pictureErrors;
            std::fprintf(stderr, "%s pattern: %s\n", kProgram, e.c_str());
        }
        ReleasePlotCaches();
    }
    bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (peaks) {
        written = std::fflush(peaks.get()) == 0 && !std::ferror(peaks.get()) && written;
        if (std::fclose(peaks.release()) != 0) written = false;
    }
    if (!written) {
        std::fprintf(stderr, "%s pattern: writing the output failed\n", kProgram);
        return 2;
    }
    return errors || pictureErrors ? 1 : 0;
}

}  // namespace hv::cli
