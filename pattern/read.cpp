// The pattern reader: one pass over the text, the format told from the first lines.
#include "core/numbers.h"
#include "pattern/pattern.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace hv::pattern {

namespace {

// What an error says: the file, the line where it helps.
std::string At(std::string_view name, std::size_t line, const std::string& what)
{
    std::string out(name.empty() ? std::string_view("pattern") : name);
    if (line) out += ", line " + std::to_string(line);
    return out + ": " + what;
}

ReadOutcome Failed(std::string_view name, std::size_t line, const std::string& what)
{
    ReadOutcome r;
    r.error = At(name, line, what);
    return r;
}

bool Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view t)
{
    while (!t.empty() && Blank(t.front())) t.remove_prefix(1);
    while (!t.empty() && Blank(t.back())) t.remove_suffix(1);
    return t;
}

std::string Lower(std::string_view t)
{
    std::string out(t);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == prefix;
}

// The lines of the text; "\n", "\r\n" and a lone "\r" all end one.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Fields separated by blanks or a comma.
int Split(std::string_view line, std::string_view* fields, int max)
{
    int n = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (Blank(line[i]) || line[i] == ',')) ++i;
        if (i >= line.size()) break;
        std::size_t j = i;
        while (j < line.size() && !Blank(line[j]) && line[j] != ',') ++j;
        if (n < max) fields[n] = line.substr(i, j - i);
        ++n;
        i = j;
    }
    return n;
}

bool SameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// Whether a field is meant as a number (a bad one included: "nan", "1e999", "1.2.3"), so
// that a row of numbers with a bad value is an error rather than a header line.
bool LooksNumeric(std::string_view f)
{
    if (!f.empty() && (f.front() == '+' || f.front() == '-')) f.remove_prefix(1);
    if (f.empty()) return false;
    if (std::isdigit(static_cast<unsigned char>(f.front()))) return true;
    if (f.front() == '.') return f.size() > 1 && std::isdigit(static_cast<unsigned char>(f[1]));
    return SameNoCase(f, "nan") || SameNoCase(f, "inf") || SameNoCase(f, "infinity");
}

constexpr int kMaxFields = 8;

// The fields of a line and whether it is a line of numbers: every field numeric.
int Fields(std::string_view line, std::string_view* fields, bool& numeric)
{
    const int n = Split(line, fields, kMaxFields);
    numeric = n > 0;
    for (int i = 0; i < std::min(n, kMaxFields) && numeric; ++i) numeric = LooksNumeric(fields[i]);
    return n;
}

bool NumericLine(std::string_view line)
{
    std::string_view fields[kMaxFields];
    bool numeric = false;
    Fields(line, fields, numeric);
    return numeric;
}

enum class Format { Xy, Chi, Fxye, Xye, Columns };

std::string_view FormatName(Format f)
{
    switch (f) {
    case Format::Xy: return "xy";
    case Format::Chi: return "chi";
    case Format::Fxye: return "fxye";
    case Format::Xye: return "xye";
    case Format::Columns: return "columns";
    }
    return "columns";
}

std::string Extension(std::string_view name)
{
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : Lower(name.substr(dot + 1));
}

// Fit2D's four header lines: title, x label, intensity label, the number of points; at
// `at`, after any comment lines another program put above them.
bool LooksChiAt(const std::vector<std::string_view>& lines, std::size_t at)
{
    if (lines.size() < at + 5) return false;
    std::string_view fields[2];
    const std::string_view count = Trim(lines[at + 3]);
    if (Split(count, fields, 2) != 1 || count.empty()) return false;
    for (char c : count) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return !NumericLine(lines[at + 1]) && !NumericLine(lines[at + 2]) && NumericLine(lines[at + 4]);
}

// Where Fit2D's header starts: after the leading "#" lines (the title itself may start
// with "#", so each start among them is tried, first first); npos when it is no .chi.
std::size_t ChiStart(const std::vector<std::string_view>& lines)
{
    std::size_t hashes = 0;
    while (hashes < lines.size() && hashes < 200 && Trim(lines[hashes]).starts_with('#')) ++hashes;
    for (std::size_t at = 0; at <= hashes; ++at) {
        if (LooksChiAt(lines, at)) return at;
    }
    return std::string_view::npos;
}

// Told by content first: a GSAS BANK line, Fit2D's header, Topas' quote comments, the
// hash comments of the common integration programs; by the extension second.
Format Detect(const std::vector<std::string_view>& lines, std::string_view name, std::size_t chiStart)
{
    const std::size_t look = std::min<std::size_t>(lines.size(), 200);
    bool hash = false, quote = false;
    for (std::size_t i = 0; i < look; ++i) {
        const std::string_view t = Trim(lines[i]);
        if (NumericLine(t)) break;
        if (StartsWithNoCase(t, "bank") && (t.size() == 4 || Blank(t[4]))) return Format::Fxye;
        hash = hash || t.starts_with('#');
        quote = quote || t.starts_with('\'');
    }
    if (chiStart != std::string_view::npos) return Format::Chi;
    if (quote) return Format::Xye;
    if (hash) return Format::Xy;
    const std::string ext = Extension(name);
    if (ext == "xy") return Format::Xy;
    if (ext == "chi") return Format::Chi;
    if (ext == "fxye") return Format::Fxye;
    if (ext == "xye") return Format::Xye;
    return Format::Columns;
}

// The number a decimal text gives after moving its decimal point by `shift` places
// (4.066e-11 and 10 give 4.066e-1): the double nearest the decimal value in the new unit,
// which multiplying by a power of ten would miss (4.066e-11 * 1e10 is 0.40659999999999996).
bool ShiftedDecimal(std::string_view text, int shift, double& value)
{
    std::string_view mantissa = text;
    long long exponent = 0;
    const std::size_t e = text.find_first_of("eE");
    if (e != std::string_view::npos) {
        mantissa = text.substr(0, e);
        std::string_view x = text.substr(e + 1);
        if (x.starts_with('+')) x.remove_prefix(1);
        const auto [end, ec] = std::from_chars(x.data(), x.data() + x.size(), exponent);
        if (ec != std::errc() || end != x.data() + x.size() || std::llabs(exponent) > 100000) return false;
    }
    std::string why;
    return ParseNumber(std::string(mantissa) + "e" + std::to_string(exponent + shift), value, why);
}

// "Wavelength: 4.066e-11 m", "Calibrated wavelength = 0.413529": angstrom, or NaN where the
// comment gives none. A number without a unit below 1e-6 is in metres.
bool WavelengthOf(std::string_view comment, double& angstrom, std::string& why)
{
    const std::string lower = Lower(comment);
    const std::size_t at = lower.find("wavelength");
    if (at == std::string::npos) return true;
    std::string_view rest = Trim(comment.substr(at + 10));
    if (rest.empty() || (rest.front() != ':' && rest.front() != '=')) return true;
    rest = Trim(rest.substr(1));
    std::string_view fields[3];
    const int n = Split(rest, fields, 3);
    double value = 0;
    if (n < 1 || !ParseNumber(fields[0], value, why) || !(value > 0)) {
        why = "the wavelength " + Quoted(rest) + " is not a positive number";
        return false;
    }
    const std::string unit = n >= 2 ? Lower(fields[1]) : std::string();
    int shift = 0;  // powers of ten to angstrom
    if (unit.empty()) {
        shift = value < 1e-6 ? 10 : 0;
    } else if (unit == "m") {
        shift = 10;
    } else if (unit == "nm") {
        shift = 1;
    } else if (unit == "pm") {
        shift = -2;
    } else if (unit == "a" || unit == "\xc3\x85" || unit == "angstrom" || unit == "ang" || unit == "angstroms") {
        shift = 0;
    } else {
        why = "the wavelength's unit " + Quoted(fields[1]) + " is unknown (m, nm, pm or angstrom)";
        return false;
    }
    double a = value;
    if (shift != 0 && !ShiftedDecimal(fields[0], shift, a)) a = kNone;
    if (!std::isfinite(a) || !(a > 0)) {
        why = "the wavelength " + Quoted(rest) + " is out of range";
        return false;
    }
    angstrom = a;
    return true;
}

// The x unit Fit2D's axis label names.
std::optional<XUnit> ChiUnit(std::string_view label)
{
    const std::string l = Lower(label);
    if (l.find("2-theta") != std::string::npos || l.find("2theta") != std::string::npos ||
        l.find("two-theta") != std::string::npos || l.find("angle") != std::string::npos) {
        return l.find("radian") != std::string::npos ? XUnit::TwoThetaRad : XUnit::TwoThetaDeg;
    }
    if (l.find('q') != std::string::npos) {
        // A Q axis in inverse angstrom says so; otherwise inverse nanometres, the SI default.
        const bool angstrom = l.find("ngstr") != std::string::npos || l.find("a^-1") != std::string::npos ||
                              l.find("1/a") != std::string::npos || l.find("a-1") != std::string::npos;
        return angstrom ? XUnit::QPerAngstrom : XUnit::QPerNm;
    }
    if (l.find("d-spacing") != std::string::npos || l.find("d spacing") != std::string::npos) {
        return XUnit::DAngstrom;
    }
    return std::nullopt;
}

}  // namespace

ReadOutcome ReadText(std::string_view bytes, std::string_view name)
{
    if (bytes.size() > kMaxFileBytes) {
        return Failed(name, 0, "larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB, not read");
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    // Text only: binary junk, UTF-16 and the like stop here, at the line of the first bad byte.
    const auto binary = [&](std::size_t line, unsigned char c) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x", c);
        return Failed(name, line, std::string("binary data (byte ") + hex + "), not a text pattern");
    };
    bool nul = false;
    {
        std::size_t line = 1;
        for (std::size_t i = 0; i < bytes.size() && !nul; ++i) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            if (c == '\n') ++line;
            if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\v' && c != '\f') {
                if (c != 0) return binary(line, c);
                nul = true;
            }
        }
    }
    // Fit2D pads its header fields with NUL bytes to a fixed length: NULs that only pad a
    // line's end are taken as blanks, until the first row of two or more numbers.
    std::vector<std::string_view> lines = Lines(bytes);
    if (nul) {
        bool data = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string_view& line = lines[i];
            std::size_t text = line.size();  // the end of the line without its padding
            while (text > 0 && (line[text - 1] == '\0' || Blank(line[text - 1]))) --text;
            const bool padded = line.find('\0', text) != std::string_view::npos;
            for (std::size_t k = 0; k < line.size(); ++k) {
                const auto c = static_cast<unsigned char>(line[k]);
                const bool padding = k >= text && c == 0 && !data;
                if (c < 0x20 && c != '\t' && c != '\v' && c != '\f' && !padding) return binary(i + 1, c);
            }
            if (padded) line = line.substr(0, text);
            std::string_view fields[kMaxFields];
            bool numeric = false;
            if (!data && Fields(line, fields, numeric) >= 2 && numeric) {
                if (padded) return binary(i + 1, 0);
                data = true;
            }
        }
    }
    const std::size_t chiStart = ChiStart(lines);
    const Format format = Detect(lines, name, chiStart);

    Pattern p;
    p.format = std::string(FormatName(format));
    std::size_t first = 0;  // index of the first line that may hold data
    std::size_t expected = 0;
    bool counted = false;
    std::string why;
    std::string_view lastComment;
    bool haveComment = false;
    const char commentMark = format == Format::Xye ? '\'' : '#';

    if (format == Format::Chi) {
        // The header where the file has one; a file that only says .chi starts it on line 1.
        const std::size_t at = chiStart == std::string_view::npos ? 0 : chiStart;
        if (lines.size() < at + 4) return Failed(name, 0, "a Fit2D .chi file needs four header lines");
        for (std::size_t i = 0; i < at; ++i) {  // comments above the header
            double w = kNone;
            if (!WavelengthOf(Trim(Trim(lines[i]).substr(1)), w, why)) return Failed(name, i + 1, why);
            if (!std::isnan(w)) p.wavelength = w;
        }
        p.unit = ChiUnit(lines[at + 1]);
        double count = 0;
        if (!ParseNumber(Trim(lines[at + 3]), count, why) || count < 0 || count != std::floor(count)) {
            return Failed(name, at + 4, "the number of points " + Quoted(Trim(lines[at + 3])) + " is not a count");
        }
        expected = static_cast<std::size_t>(std::min(count, 1e15));
        counted = true;
        first = at + 4;
    }
    if (format == Format::Fxye) {
        p.unit = XUnit::TwoThetaDeg;
        first = 1;  // the title
    }

    std::size_t columns = 0;
    bool inData = false;
    bool bankSeen = false;
    std::size_t lastX = 0;
    std::string_view lastXText;
    std::string_view fields[kMaxFields];
    for (std::size_t i = first; i < lines.size(); ++i) {
        const std::size_t lineNo = i + 1;
        const std::string_view t = Trim(lines[i]);
        if (t.empty()) continue;
        if (format != Format::Columns && format != Format::Chi && t.front() == commentMark) {
            const std::string_view text = Trim(t.substr(1));
            double w = kNone;
            if (!WavelengthOf(text, w, why)) return Failed(name, lineNo, why);
            if (!std::isnan(w)) p.wavelength = w;
            if (!inData) {
                lastComment = text;
                haveComment = true;
            }
            continue;
        }
        if (format == Format::Fxye && StartsWithNoCase(t, "bank") && (t.size() == 4 || Blank(t[4]))) {
            if (bankSeen) break;  // the first bank only
            bankSeen = true;
            if (Lower(t).find("fxye") == std::string::npos) {
                return Failed(name, lineNo, "a GSAS bank not in FXYE layout (x, y, e on every line) is not read");
            }
            const int n = Split(t, fields, kMaxFields);
            double nchan = 0;
            if (n >= 3 && ParseNumber(fields[2], nchan, why) && nchan >= 0 && nchan == std::floor(nchan)) {
                expected = static_cast<std::size_t>(std::min(nchan, 1e15));
                counted = true;
            }
            continue;
        }
        bool numeric = false;
        const int n = Fields(t, fields, numeric);
        if (!numeric) {
            if (!inData) {
                if (format == Format::Columns) {
                    lastComment = t;
                    haveComment = true;
                }
                continue;  // a header line
            }
            return Failed(name, lineNo, Quoted(t) + " is not a row of numbers");
        }
        if (format == Format::Fxye && !bankSeen) {
            return Failed(name, lineNo, "numbers before the BANK line of a GSAS file");
        }
        if (n < 2 || n > 3) {
            return Failed(name, lineNo,
                          std::to_string(n) + (n == 1 ? " number" : " numbers") +
                              "; a pattern's rows have 2 (x, intensity) or 3 (x, intensity, sigma)");
        }
        if (!inData) {
            columns = static_cast<std::size_t>(n);
            inData = true;
        } else if (static_cast<std::size_t>(n) != columns) {
            return Failed(name, lineNo,
                          std::to_string(n) + " numbers where the rows above have " + std::to_string(columns));
        }
        double v[3] = {0, 0, 0};
        for (int k = 0; k < n; ++k) {
            if (!ParseNumber(fields[k], v[k], why)) return Failed(name, lineNo, why);
        }
        if (format == Format::Fxye) v[0] /= 100;  // centidegrees
        if (columns == 3 && !(v[2] >= 0)) {
            return Failed(name, lineNo, "sigma " + Quoted(fields[2]) + " is negative");
        }
        if (!p.x.empty()) {
            const double prev = p.x.back();
            const bool rising = p.x.size() < 2 || p.x[1] > p.x[0];
            if (v[0] == prev || (p.x.size() >= 2 && (v[0] > prev) != rising)) {
                return Failed(name, lineNo,
                              "x " + Quoted(fields[0]) + " after " + Quoted(lastXText) +
                                  " (line " + std::to_string(lastX) + "): x must rise or fall strictly");
            }
        }
        lastX = lineNo;
        lastXText = fields[0];
        p.x.push_back(v[0]);
        p.intensity.push_back(v[1]);
        if (columns == 3) p.sigma.push_back(v[2]);
    }

    if (p.x.empty()) return Failed(name, 0, "no rows of numbers, not a pattern");
    if (counted && expected != p.x.size()) {
        return Failed(name, 0,
                      "the header promises " + std::to_string(expected) + " points, the file has " +
                          std::to_string(p.x.size()) + (p.x.size() < expected ? " (cut short?)" : ""));
    }
    if (p.x.size() < kMinPoints) {
        return Failed(name, 0,
                      std::to_string(p.x.size()) + " points; a pattern needs at least " + std::to_string(kMinPoints));
    }
    // The last comment line before the data names the columns, x first.
    if ((format == Format::Xy || format == Format::Columns) && haveComment) {
        std::string_view first2[1];
        XUnit unit{};
        if (Split(lastComment, first2, 1) >= 1 && ParseXUnit(first2[0], unit)) p.unit = unit;
    }
    ReadOutcome r;
    r.ok = true;
    r.pattern = std::move(p);
    return r;
}

ReadOutcome ReadFile(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Failed(path, 0, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return Failed(path, 0, "is a directory, not a pattern file");
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
        return Failed(path, 0, "not a regular file");
    }
    if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) {
        return Failed(path, 0, "larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB, not read");
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Failed(path, 0, std::strerror(errno));
    std::string bytes;
    if (S_ISREG(st.st_mode)) bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[1 << 16];
    bool tooBig = false, failed = false;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, f);
        if (got == 0) {
            failed = std::ferror(f) != 0;
            break;
        }
        // A file that grows while read, or a pipe, is cut off at the same limit.
        if (bytes.size() + got > kMaxFileBytes) {
            tooBig = true;
            break;
        }
        bytes.append(buffer, got);
    }
    const int err = errno;
    std::fclose(f);
    if (tooBig) return Failed(path, 0, "larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB, not read");
    if (failed) return Failed(path, 0, std::strerror(err));
    return ReadText(bytes, path);
}

}  // namespace hv::pattern
