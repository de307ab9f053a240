// The CSV the faces write of a fit: one row of parameters, and one row per point.
#include "samplefit/samplefit.h"

#include "rows/csv.h"
#include "rows/fields.h"

namespace hv::samplefit {

std::string CsvRow(const Result& r, Form form, std::size_t points)
{
    std::string line(FormName(form));
    line += "," + std::to_string(points);
    for (int j = 0; j < kParams; ++j) {
        const auto ju = static_cast<std::size_t>(j);
        rows::AppendNumber(line, r.ok && r.has[ju] ? r.value[ju] : kNaN);
        rows::AppendNumber(line, r.ok && r.refined[ju] ? r.sigma[ju] : kNaN);
    }
    rows::AppendNumber(line, r.ok ? r.chi2 : kNaN);
    rows::AppendNumber(line, r.ok ? r.chi2Reduced : kNaN);
    rows::AppendNumber(line, r.ok ? r.maxAbsResidualSigma : kNaN);
    line += r.ok ? ",ok," : ",error,";
    rows::AppendField(line, r.message);
    return line + "\n";
}

std::vector<double> IsothermPressures(std::span<const Point> points, const Result& r)
{
    std::vector<double> iso(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        iso[i] = points[i].p - (r.thermal ? eos::ThermalPressure(r.params, points[i].v, points[i].tK) : 0);
    }
    return iso;
}

std::string ResidualRows(std::span<const Point> points, const Result& r)
{
    const auto ff = FfPoints(points, r.value[kV0], IsothermPressures(points, r));
    std::string s(kResidualHeader);
    s += "\n";
    for (std::size_t i = 0; i < points.size() && i < r.pModel.size(); ++i) {
        s += std::to_string(points[i].line);
        for (double v : {points[i].v, points[i].p, r.pModel[i], r.residualP[i], r.sigmaEff[i], r.residualSigma[i],
                         ff[i].f, ff[i].sigmaf, ff[i].F, ff[i].sigmaF}) {
            rows::AppendNumber(s, v);
        }
        s += "\n";
    }
    return s;
}

}  // namespace hv::samplefit
