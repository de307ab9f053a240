#include "rows/pattern_rows.h"

#include "rows/csv.h"
#include "rows/fields.h"

#include <algorithm>

namespace hv::rows {

namespace {

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

void AppendPatternRow(std::string& out, std::string_view file, std::string_view standardText, std::string_view tText,
                      const pattern::Outcome& outcome)
{
    AppendField(out, file);
    out += ',';
    // A published scale is named as every output names it (Au:Fei2007 for Au); the built-in
    // model's NaCl, KCl and CsCl stay as the user wrote them, as they always did.
    const Standard* standard = FindStandardAnyCase(Trimmed(standardText));
    const bool published = standard && IsPublishedScale(*standard);
    AppendField(out, published ? standard->name : standardText);
    out += ',';
    AppendField(out, tText);
    AppendNumber(out, outcome.wavelength);
    const auto used = std::count_if(outcome.peaks.begin(), outcome.peaks.end(),
                                    [](const pattern::PeakRow& p) { return p.used; });
    out += ',' + std::to_string(used);
    if (published) {
        AppendResult(out, outcome.result, *standard);
    } else {
        AppendResult(out, outcome.result);
    }
    AppendNumber(out, outcome.fom);
    if (outcome.strongExpected > 0) {
        out += ',' + std::to_string(outcome.strongFound) + ',' + std::to_string(outcome.strongExpected);
    } else {
        out += ",,";
    }
    for (const double v : {outcome.trend, outcome.sigmaTrend, outcome.zeroShift, outcome.sigmaZeroShift}) {
        AppendNumber(out, v);
    }
    out += '\n';
}

void AppendPeakRows(std::string& out, std::string_view file, const pattern::Outcome& outcome)
{
    for (const pattern::PeakRow& p : outcome.peaks) {
        AppendField(out, file);
        out += ',';
        out += ReflectionText(p.reflection);
        out += ',' + std::to_string(p.reflection.n);
        for (const double v : {p.position, p.sigmaPosition, p.fwhm, p.eta, p.height, p.d, p.sigmaD, p.aI}) {
            AppendNumber(out, v);
        }
        out += p.used ? ",1," : ",0,";
        AppendField(out, p.note);
        AppendNumber(out, p.expected);
        out += '\n';
    }
}

}  // namespace hv::rows
