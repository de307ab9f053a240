#include "cli/eos_command.h"

#include "cli/eos_plot.h"
#include "samplefit/samplefit.h"
#include "rows/eos_rows.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hv::cli {

namespace {

namespace fs = std::filesystem;
namespace ef = hv::samplefit;

constexpr const char* kProgram = "hivarnisse-calc eos";

bool ReadWhole(const std::string& path, std::string& text, std::string& why)
{
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        why = "cannot read " + path + ": it is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot read " + path;
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

bool WriteWhole(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out.flush());
}

}  // namespace

EosOutput EosText(const EosRequest& q, const std::string& fileText)
{
    EosOutput out;
    ef::Options o;
    std::string why;
    if (!rows::ReadEosOptions({q.form, q.fix, q.t0, q.theta0, q.z, q.atoms}, o, why)) {
        out.err = why;
        out.status = 2;
        return out;
    }
    if (q.plotFormat != "png" && q.plotFormat != "svg") {
        out.err = "--plot-format: png or svg";
        out.status = 2;
        return out;
    }
    const ef::ReadOutcome read = ef::ReadPoints(fileText);
    if (!read.ok) {
        out.err = q.file + ": " + read.error;
        out.status = read.inHeader ? 2 : 1;
        return out;
    }
    const ef::Result r = ef::Fit(read.points, o);
    if (q.csv) out.out = std::string(ef::kCsvHeader) + "\n" + ef::CsvRow(r, o.form, read.points.size());
    if (!r.ok) {
        out.err = q.file + ": " + r.message;
        out.status = 1;
        return out;
    }
    if (!q.csv) out.out = rows::EosSummary(r, o);
    if (!q.residuals.empty() && !WriteWhole(q.residuals, ef::ResidualRows(read.points, r))) {
        out.err = "cannot write " + q.residuals;
        out.status = 1;
    }
    if (!q.plot.empty()) {
        std::error_code ec;
        fs::create_directories(q.plot, ec);
        const PlotFormat format = q.plotFormat == "svg" ? PlotFormat::Svg : PlotFormat::Png;
        const std::string ext(PlotExtension(format));
        const fs::path dir(q.plot);
        for (std::string e : {DrawEosPv((dir / ("eos_pv" + ext)).string(), format, read.points, r),
                              DrawEosFf((dir / ("eos_ff" + ext)).string(), format, read.points, r),
                              DrawEosEllipse((dir / ("eos_ellipse" + ext)).string(), format, r)}) {
            if (!e.empty()) {
                out.err += (out.err.empty() ? "" : "\n") + e;
                out.status = 1;
            }
        }
    }
    return out;
}

int RunEosCommand(const EosRequest& q)
{
    std::string text, why;
    if (!ReadWhole(q.file, text, why)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
        return 2;
    }
    const EosOutput o = EosText(q, text);
    if (!q.plot.empty()) ReleasePlotCaches();
    std::fwrite(o.out.data(), 1, o.out.size(), stdout);
    if (!o.err.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, o.err.c_str());
    if (std::fflush(stdout) != 0) return 2;
    return o.status;
}

}  // namespace hv::cli
