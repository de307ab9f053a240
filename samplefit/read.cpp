// Points from CSV: the columns by name, whatever else the file holds.
#include "samplefit/samplefit.h"

#include "core/numbers.h"
#include "rows/csv.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace hv::samplefit {

namespace {

std::string Lower(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    std::string s(text);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

enum Column { kP, kSigmaP, kV, kSigmaV, kT, kSigmaT, kColumns };
constexpr const char* kNames[kColumns] = {"p_gpa", "sigma_p_gpa", "v", "sigma_v", "t_c", "sigma_t"};

// A number of a field, or why not. Temperatures may end in K (kelvin).
bool Number(const rows::Record& r, std::size_t field, Column c, double& value, std::string& why)
{
    const std::string at = "line " + std::to_string(r.line) + ", " + kNames[c] + ": ";
    std::string_view text = field < r.Kept() ? r.Field(field) : std::string_view{};
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    if (text.empty()) {
        why = at + "empty";
        return false;
    }
    bool kelvin = false;
    if (c == kT && (text.back() == 'K' || text.back() == 'k')) {
        kelvin = true;
        text.remove_suffix(1);
    }
    std::string reason;
    if (!ParseNumber(text, value, reason)) {
        why = at + reason + " (" + Quoted(r.Field(field)) + ")";
        return false;
    }
    if (c == kT && !kelvin) value += 273.15;
    return true;
}

}  // namespace

ReadOutcome ReadPoints(std::string_view text)
{
    ReadOutcome out;
    rows::MemorySource source(text);
    rows::CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    rows::Record r;
    out.inHeader = true;
    if (reader.Next(r) != rows::CsvReader::Got::Record) {
        out.error = "no header line";
        return out;
    }
    std::array<std::ptrdiff_t, kColumns> at;
    at.fill(-1);
    for (std::size_t i = 0; i < r.Kept(); ++i) {
        std::string name = Lower(r.Field(i));
        if (name == "volume") name = "v";
        for (int c = 0; c < kColumns; ++c) {
            if (name != kNames[c]) continue;
            if (at[static_cast<std::size_t>(c)] >= 0) {
                out.error = std::string("the header names ") + kNames[c] + " twice";
                return out;
            }
            at[static_cast<std::size_t>(c)] = static_cast<std::ptrdiff_t>(i);
        }
    }
    for (Column c : {kP, kV}) {
        if (at[c] < 0) {
            out.error = std::string("the header has no ") + kNames[c] + " column" + (c == kV ? " (v or volume)" : "");
            return out;
        }
    }
    if (at[kSigmaT] >= 0 && at[kT] < 0) {
        out.error = "the header has sigma_t but no t_c column";
        return out;
    }
    out.hasTemperature = at[kT] >= 0;
    out.inHeader = false;
    for (;;) {
        const auto got = reader.Next(r);
        if (got == rows::CsvReader::Got::End) break;
        if (got == rows::CsvReader::Got::ReadError) {
            out.error = "the input could not be read";
            return out;
        }
        if (r.tooLong || r.unclosedQuote) {
            out.error = "line " + std::to_string(r.line) + (r.tooLong ? ": longer than 1 MiB" : ": a quote is not closed");
            return out;
        }
        Point q;
        q.line = r.line;
        double* targets[kColumns] = {&q.p, &q.sigmaP, &q.v, &q.sigmaV, &q.tK, &q.sigmaT};
        for (int c = 0; c < kColumns; ++c) {
            if (at[static_cast<std::size_t>(c)] < 0) continue;
            if (!Number(r, static_cast<std::size_t>(at[static_cast<std::size_t>(c)]), static_cast<Column>(c),
                        *targets[c], out.error)) {
                out.points.clear();
                return out;
            }
        }
        out.points.push_back(q);
    }
    if (out.points.empty()) {
        out.error = "no rows after the header";
        return out;
    }
    out.ok = true;
    return out;
}

}  // namespace hv::samplefit
