#include "rows/fields.h"

#include "rows/csv.h"
#include "core/numbers.h"

#include <charconv>
#include <cmath>

namespace hv::rows {

// Straight into the line: most doubles need 17 digits, past the short-string buffer, and a
// heap string per number costs as much as the parsing.
void AppendNumber(std::string& line, double value)
{
    line += ',';
    if (std::isnan(value)) return;
    if (value == 0) {
        line += '0';
        return;
    }
    char buffer[32];
    const auto [end, ec] = ToChars(buffer, buffer + sizeof buffer, value);
    line.append(buffer, ec == std::errc() ? end : buffer);
}

namespace {

void ResultColumns(std::string& line, const Result& r, bool doublePressure)
{
    const bool numbers = r.status != Status::Error;
    AppendNumber(line, numbers ? r.a : kNone);
    AppendNumber(line, numbers ? r.sigmaA : kNone);
    AppendNumber(line, numbers ? r.vRatio : kNone);
    if (doublePressure) {
        AppendNumber(line, numbers ? r.pressure : kNone);
    } else {
        line += ',';
        if (numbers) line += Shortest(r.pGpa);
    }
    AppendNumber(line, numbers ? r.sigmaPGpa : kNone);
    line += ',';
    line += StatusName(r.status);
    line += ',';
    AppendField(line, r.message);
}

}  // namespace

void AppendScale(std::string& line, const Standard* standard)
{
    line += ',';
    if (standard) AppendField(line, standard->name);
}

void AppendResult(std::string& line, const Result& r)
{
    ResultColumns(line, r, false);
}

void AppendResult(std::string& line, const Result& r, const Standard& standard)
{
    ResultColumns(line, r, IsPublishedScale(standard));
}

}  // namespace hv::rows
