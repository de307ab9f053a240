#include "cli/eos_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <vector>

namespace hv::cli {

using namespace draw;
namespace ef = hv::samplefit;

namespace {

constexpr int kWidth = 1000;
constexpr double kLeft = 84, kRight = kWidth - 24;
constexpr Colour kPoint{0.12, 0.35, 0.80};

std::string Number(double value, int digits = 5)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
    return buffer;
}

// "BM3: V0 = 74.70 ± 0.01, K0 = 160.2 ± 1.3, K0' = 4.01 ± 0.08".
std::string Caption(const ef::Result& r)
{
    std::string s = std::string(ef::FormName(r.form)) + ":";
    const char* sep = " ";
    for (int j = 0; j < ef::kParams; ++j) {
        const auto ju = static_cast<std::size_t>(j);
        if (!r.has[ju]) continue;
        s += sep + std::string(ef::ParamLabel(j)) + " = ";
        sep = ", ";
        if (r.refined[ju] && r.sigma[ju] > 0) {
            const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(r.sigma[ju]))), 0, 8);
            char buffer[96];
            std::snprintf(buffer, sizeof buffer, "%.*f ± %.*f", decimals, r.value[ju], decimals, r.sigma[ju]);
            s += buffer;
        } else {
            s += Number(r.value[ju], 6) + " (fixed)";
        }
    }
    return s;
}

void Title(cairo_t* cr, const std::string& title, const ef::Result& r)
{
    Font(cr, 17, true);
    SetColour(cr, kInk);
    Text(cr, kLeft, 28, Fitted(cr, title, kRight - kLeft));
    Font(cr, 14);
    std::string line = Caption(r);
    if (std::isfinite(r.chi2Reduced)) line += ";  χ²/ν = " + Number(r.chi2Reduced, 3);
    Text(cr, kLeft, 50, Fitted(cr, line, kRight - kLeft));
}

// A point with error bars (NaN or zero sigmas draw none).
void ErrorPoint(cairo_t* cr, const Axis& x, const Axis& y, double vx, double vy, double sx, double sy)
{
    const double px = x(vx), py = y(vy);
    SetColour(cr, kPoint, 0.8);
    cairo_set_line_width(cr, 1);
    if (sx > 0 && std::isfinite(sx)) {
        const double a = x(vx - sx), b = x(vx + sx);
        Line(cr, a, py, b, py);
        Line(cr, a, py - 3, a, py + 3);
        Line(cr, b, py - 3, b, py + 3);
    }
    if (sy > 0 && std::isfinite(sy)) {
        const double a = y(vy - sy), b = y(vy + sy);
        Line(cr, px, a, px, b);
        Line(cr, px - 3, a, px + 3, a);
        Line(cr, px - 3, b, px + 3, b);
    }
    SetColour(cr, kInk);
    cairo_arc(cr, px, py, 3, 0, 2 * M_PI);
    cairo_fill(cr);
}

void Clip(cairo_t* cr, double left, double top, double right, double bottom)
{
    cairo_save(cr);
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_clip(cr);
}

}  // namespace

std::string DrawEosPv(const std::string& path, PlotFormat format, std::span<const ef::Point> points,
                      const ef::Result& r)
{
    constexpr int kHeight = 700;
    constexpr double top = 72, residualBottom = kHeight - 58, residualTop = residualBottom - 150;
    constexpr double mainBottom = residualTop - 12;
    Canvas canvas(path, format, kWidth, kHeight);
    cairo_t* cr = canvas.cr();
    Title(cr, "P-V with the fitted isotherm" + std::string(r.thermal ? "s" : ""), r);

    double vLo = HUGE_VAL, vHi = -HUGE_VAL, pLo = HUGE_VAL, pHi = -HUGE_VAL, rMax = 0;
    std::set<double> temperatures;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const ef::Point& q = points[i];
        vLo = std::min(vLo, q.v - q.sigmaV);
        vHi = std::max(vHi, q.v + q.sigmaV);
        pLo = std::min(pLo, q.p - q.sigmaP);
        pHi = std::max(pHi, q.p + q.sigmaP);
        if (i < r.residualP.size()) rMax = std::max(rMax, std::fabs(r.residualP[i]) + r.sigmaEff[i]);
        temperatures.insert(q.tK);
    }
    vHi = std::max(vHi, r.value[ef::kV0]);
    pLo = std::min(pLo, 0.0);
    Widen(vLo, vHi, 0.04);
    Widen(pLo, pHi, 0.05);
    if (!(rMax > 0)) rMax = 1;
    const Axis x{vLo, vHi, kLeft, kRight};
    const Axis y{pLo, pHi, mainBottom, top};
    const Axis yr{-rMax * 1.1, rMax * 1.1, residualBottom, residualTop};

    XTicks(cr, x, top, mainBottom, false);
    YTicks(cr, y, kLeft, kRight, 6);
    Clip(cr, kLeft, top, kRight, mainBottom);
    std::vector<double> vs(400), ps(400);
    for (double t : temperatures) {
        for (std::size_t i = 0; i < vs.size(); ++i) {
            vs[i] = vLo + (vHi - vLo) * static_cast<double>(i) / static_cast<double>(vs.size() - 1);
            ps[i] = eos::Pressure(r.params, vs[i], std::isnan(t) ? r.params.t0 : t);
        }
        SetColour(cr, kFitColour);
        cairo_set_line_width(cr, 1.6);
        Curve(cr, x, y, vs, ps);
    }
    for (const ef::Point& q : points) ErrorPoint(cr, x, y, q.v, q.p, q.sigmaV, q.sigmaP);
    cairo_restore(cr);
    Frame(cr, kLeft, top, kRight, mainBottom);
    Font(cr, 13);
    SetColour(cr, kInk);
    VerticalText(cr, 22, (top + mainBottom) / 2, "P (GPa)");

    XTicks(cr, x, residualTop, residualBottom, true);
    YTicks(cr, yr, kLeft, kRight, 3);
    Clip(cr, kLeft, residualTop, kRight, residualBottom);
    SetColour(cr, kInk, 0.5);
    cairo_set_line_width(cr, 1);
    Line(cr, kLeft, std::round(yr(0)) + 0.5, kRight, std::round(yr(0)) + 0.5);
    for (std::size_t i = 0; i < points.size() && i < r.residualP.size(); ++i) {
        ErrorPoint(cr, x, yr, points[i].v, r.residualP[i], 0, r.sigmaEff[i]);
    }
    cairo_restore(cr);
    Frame(cr, kLeft, residualTop, kRight, residualBottom);
    Font(cr, 13);
    SetColour(cr, kInk);
    VerticalText(cr, 22, (residualTop + residualBottom) / 2, "P − fit (GPa)");
    Text(cr, (kLeft + kRight) / 2, kHeight - 12, "V", Align::Centre);
    return canvas.Finish();
}

std::string DrawEosFf(const std::string& path, PlotFormat format, std::span<const ef::Point> points,
                      const ef::Result& r)
{
    constexpr int kHeight = 600;
    constexpr double top = 72, bottom = kHeight - 58;
    Canvas canvas(path, format, kWidth, kHeight);
    cairo_t* cr = canvas.cr();
    Title(cr, "F-f: normalised stress against Eulerian strain", r);

    // P-V-T points on the isotherm: their thermal pressure taken off.
    const std::vector<double> iso = ef::IsothermPressures(points, r);
    const double v0 = r.value[ef::kV0];
    const auto ff = ef::FfPoints(points, v0, iso);
    double fLo = 0, fHi = -HUGE_VAL, yLo = HUGE_VAL, yHi = -HUGE_VAL;
    for (const ef::FfPoint& p : ff) {
        if (std::isnan(p.F)) continue;
        fLo = std::min(fLo, p.f);
        fHi = std::max(fHi, p.f);
        // Points whose F is known worse than the spread of F would flatten the picture.
        const double s = std::min(std::isfinite(p.sigmaF) ? p.sigmaF : 0, 0.5 * std::fabs(p.F));
        yLo = std::min(yLo, p.F - s);
        yHi = std::max(yHi, p.F + s);
    }
    Widen(fLo, fHi, 0.04);
    // The fitted isotherm on this plot: F(f) = P(V(f)) / (3 f (1 + 2f)^(5/2)).
    std::vector<double> fs(300), Fs(300);
    for (std::size_t i = 0; i < fs.size(); ++i) {
        const double f = fLo + (fHi - fLo) * static_cast<double>(i) / static_cast<double>(fs.size() - 1);
        fs[i] = f;
        const double v = v0 * std::pow(1 + 2 * f, -1.5);
        const double g = 3 * f * std::pow(1 + 2 * f, 2.5);
        Fs[i] = std::fabs(f) > 1e-6 ? eos::IsothermPressure(r.params, v) / g : r.value[ef::kK0];
        if (std::isfinite(Fs[i])) {
            yLo = std::min(yLo, Fs[i]);
            yHi = std::max(yHi, Fs[i]);
        }
    }
    Widen(yLo, yHi, 0.08);
    const Axis x{fLo, fHi, kLeft, kRight};
    const Axis y{yLo, yHi, bottom, top};
    XTicks(cr, x, top, bottom, true);
    YTicks(cr, y, kLeft, kRight, 6);
    Clip(cr, kLeft, top, kRight, bottom);
    SetColour(cr, kFitColour);
    cairo_set_line_width(cr, 1.6);
    Curve(cr, x, y, fs, Fs);
    for (const ef::FfPoint& p : ff) {
        if (!std::isnan(p.F)) ErrorPoint(cr, x, y, p.f, p.F, p.sigmaf, p.sigmaF);
    }
    cairo_restore(cr);
    Frame(cr, kLeft, top, kRight, bottom);
    Font(cr, 13);
    SetColour(cr, kInk);
    VerticalText(cr, 22, (top + bottom) / 2, "F (GPa)");
    Text(cr, (kLeft + kRight) / 2, kHeight - 12, "f = ((V0/V)^(2/3) − 1) / 2", Align::Centre);
    return canvas.Finish();
}

std::string DrawEosEllipse(const std::string& path, PlotFormat format, const ef::Result& r)
{
    constexpr int kHeight = 700;
    constexpr double top = 72, bottom = kHeight - 58;
    Canvas canvas(path, format, kWidth, kHeight);
    cairo_t* cr = canvas.cr();
    Title(cr, "K0-K0' confidence ellipses, 68.3 % and 95.4 %", r);
    const auto inner = ef::Ellipse(r, 2.30), outer = ef::Ellipse(r, 6.18);
    if (outer.empty()) {
        Font(cr, 14);
        SetColour(cr, kError);
        Text(cr, kLeft, 90, "No ellipse: K0 and K0' are not both refined.");
        return canvas.Finish();
    }
    double xLo = HUGE_VAL, xHi = -HUGE_VAL, yLo = HUGE_VAL, yHi = -HUGE_VAL;
    for (const ef::XY& p : outer) {
        xLo = std::min(xLo, p.x);
        xHi = std::max(xHi, p.x);
        yLo = std::min(yLo, p.y);
        yHi = std::max(yHi, p.y);
    }
    Widen(xLo, xHi, 0.1);
    Widen(yLo, yHi, 0.1);
    const Axis x{xLo, xHi, kLeft, kRight};
    const Axis y{yLo, yHi, bottom, top};
    XTicks(cr, x, top, bottom, true);
    YTicks(cr, y, kLeft, kRight, 6);
    Clip(cr, kLeft, top, kRight, bottom);
    for (const auto* e : {&outer, &inner}) {
        std::vector<double> xs, ys;
        for (const ef::XY& p : *e) {
            xs.push_back(p.x);
            ys.push_back(p.y);
        }
        SetColour(cr, e == &inner ? kFitColour : kPoint);
        cairo_set_line_width(cr, 1.6);
        Curve(cr, x, y, xs, ys);
    }
    SetColour(cr, kInk);
    cairo_arc(cr, x(r.value[ef::kK0]), y(r.value[ef::kK0p]), 3.5, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_restore(cr);
    Frame(cr, kLeft, top, kRight, bottom);
    Font(cr, 12);
    SetColour(cr, kFitColour);
    Text(cr, kRight - 200, top + 20, "68.3 % (Δχ² = 2.30)");
    SetColour(cr, kPoint);
    Text(cr, kRight - 200, top + 38, "95.4 % (Δχ² = 6.18)");
    Font(cr, 13);
    SetColour(cr, kInk);
    VerticalText(cr, 22, (top + bottom) / 2, "K0'");
    Text(cr, (kLeft + kRight) / 2, kHeight - 12, "K0 (GPa)", Align::Centre);
    return canvas.Finish();
}

}  // namespace hv::cli
