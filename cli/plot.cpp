#include "cli/plot.h"

#include "core/numbers.h"
#include "core/units.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace hv::cli {

namespace draw {

constexpr const char* kFont = "DejaVu Sans";

void SetColour(cairo_t* cr, Colour c, double alpha)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

Canvas::Canvas(const std::string& path, PlotFormat format, int width, int height) : path_(path), format_(format)
{
    surface_ = format == PlotFormat::Svg ? cairo_svg_surface_create(path.c_str(), width, height)
                                         : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cr_ = cairo_create(surface_);
    cairo_set_source_rgb(cr_, 1, 1, 1);
    cairo_paint(cr_);
    cairo_select_font_face(cr_, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
}

Canvas::~Canvas()
{
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

std::string Canvas::Finish()
{
    cairo_status_t status = cairo_status(cr_);
    if (status == CAIRO_STATUS_SUCCESS) {
        if (format_ == PlotFormat::Png) {
            cairo_surface_flush(surface_);
            status = cairo_surface_write_to_png(surface_, path_.c_str());
        } else {
            cairo_surface_finish(surface_);
            status = cairo_surface_status(surface_);
        }
    }
    if (status == CAIRO_STATUS_SUCCESS) return {};
    return "cannot write the picture " + path_ + ": " + cairo_status_to_string(status);
}

// Widens an empty or degenerate range so that it maps to something.
void Widen(double& lo, double& hi, double margin)
{
    if (!(std::isfinite(lo) && std::isfinite(hi))) {
        lo = 0;
        hi = 1;
    }
    if (hi <= lo) {
        const double half = lo == 0 ? 1 : std::abs(lo) * 0.05;
        lo -= half;
        hi += half;
        return;
    }
    const double pad = (hi - lo) * margin;
    lo -= pad;
    hi += pad;
}

// Ticks at 1, 2 or 5 times a power of ten, about `want` of them.
Ticks NiceTicks(double lo, double hi, int want)
{
    Ticks t;
    const double raw = (hi - lo) / want;
    const double power = std::pow(10, std::floor(std::log10(raw)));
    const double f = raw / power;
    t.step = (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * power;
    t.first = std::ceil(lo / t.step - 1e-9) * t.step;
    t.count = static_cast<int>(std::floor((hi - t.first) / t.step + 1e-9)) + 1;
    t.decimals = std::max(0, static_cast<int>(-std::floor(std::log10(t.step) + 1e-9)));
    return t;
}

std::string TickText(double v, const Ticks& t)
{
    if (std::abs(v) < t.step * 1e-6) v = 0;  // no "-0" and no 1e-17
    char buffer[48];
    if (std::abs(v) >= 1e6 || (t.step >= 1e5)) {
        std::snprintf(buffer, sizeof buffer, "%.3g", v);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.*f", t.decimals, v);
    }
    return buffer;
}

double TextWidth(cairo_t* cr, const std::string& text)
{
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, Align align)
{
    const double w = TextWidth(cr, text);
    cairo_move_to(cr, align == Align::Left ? x : align == Align::Centre ? x - w / 2 : x - w, y);
    cairo_show_text(cr, text.c_str());
}

// The text cut with an ellipsis to fit width, at a character boundary.
std::string Fitted(cairo_t* cr, std::string text, double width)
{
    if (TextWidth(cr, text) <= width) return text;
    while (!text.empty() && TextWidth(cr, text + "…") > width) {
        text.pop_back();
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
        if (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0xC0) text.pop_back();
    }
    return text + "…";
}

std::vector<std::string> Wrapped(cairo_t* cr, const std::string& text, double width, std::size_t maxLines)
{
    std::vector<std::string> lines;
    std::string rest = text;
    while (!rest.empty() && lines.size() + 1 < maxLines && TextWidth(cr, rest) > width) {
        std::size_t cut = std::string::npos;
        for (std::size_t at = rest.find(' '); at != std::string::npos; at = rest.find(' ', at + 1)) {
            if (TextWidth(cr, rest.substr(0, at)) > width) break;
            cut = at;
        }
        if (cut == std::string::npos || cut == 0) break;
        lines.push_back(rest.substr(0, cut));
        rest = rest.substr(cut + 1);
    }
    lines.push_back(Fitted(cr, rest, width));
    return lines;
}

void Font(cairo_t* cr, double size, bool bold)
{
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1)
{
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

void Frame(cairo_t* cr, double left, double top, double right, double bottom)
{
    SetColour(cr, kInk);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, left + 0.5, top + 0.5, right - left, bottom - top);
    cairo_stroke(cr);
}

// Tick marks and labels of a horizontal axis at y (labels below when labelled).
void XTicks(cairo_t* cr, const Axis& x, double top, double bottom, bool labels, bool whole, double labelY)
{
    if (std::isnan(labelY)) labelY = bottom + 17;
    Ticks t = NiceTicks(x.lo, x.hi, 8);
    if (whole && t.step < 1) {  // counts: no tick between two files
        t.step = 1;
        t.decimals = 0;
        t.first = std::ceil(x.lo);
        t.count = static_cast<int>(std::floor(x.hi - t.first)) + 1;
    }
    Font(cr, 12);
    for (int i = 0; i < t.count; ++i) {
        const double v = t.first + i * t.step;
        const double px = std::round(x(v)) + 0.5;
        SetColour(cr, kGrid);
        cairo_set_line_width(cr, 1);
        Line(cr, px, top, px, bottom);
        SetColour(cr, kInk);
        Line(cr, px, bottom, px, bottom - 5);
        if (labels) Text(cr, px, labelY, TickText(v, t), Align::Centre);
    }
}

void YTicks(cairo_t* cr, const Axis& y, double left, double right, int want)
{
    const Ticks t = NiceTicks(y.lo, y.hi, want);
    Font(cr, 12);
    for (int i = 0; i < t.count; ++i) {
        const double v = t.first + i * t.step;
        const double py = std::round(y(v)) + 0.5;
        SetColour(cr, kGrid);
        cairo_set_line_width(cr, 1);
        Line(cr, left, py, right, py);
        SetColour(cr, kInk);
        Line(cr, left, py, left + 5, py);
        Text(cr, left - 6, py + 4, TickText(v, t), Align::Right);
    }
}

// Text turned a quarter to the left, read from bottom to top, centred on (x, y).
void VerticalText(cairo_t* cr, double x, double y, const std::string& text)
{
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, -M_PI / 2);
    Text(cr, 0, 0, text, Align::Centre);
    cairo_restore(cr);
}

// A polyline through the finite points of ys; a NaN breaks it.
void Curve(cairo_t* cr, const Axis& x, const Axis& y, const std::vector<double>& xs, const std::vector<double>& ys)
{
    bool open = false;
    const std::size_t n = std::min(xs.size(), ys.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(ys[i]) || !std::isfinite(xs[i])) {
            open = false;
            continue;
        }
        const double py = std::clamp(y(ys[i]), -1e4, 1e4);
        if (open) {
            cairo_line_to(cr, x(xs[i]), py);
        } else {
            cairo_move_to(cr, x(xs[i]), py);
            open = true;
        }
    }
    cairo_stroke(cr);
}

}  // namespace draw

using namespace draw;

namespace {

std::string AxisLabel(XUnit unit)
{
    switch (unit) {
    case XUnit::TwoThetaDeg: return "2θ (degrees)";
    case XUnit::TwoThetaRad: return "2θ (radians)";
    case XUnit::QPerAngstrom: return "q (Å⁻¹)";
    case XUnit::QPerNm: return "q (nm⁻¹)";
    case XUnit::DAngstrom: return "d (Å)";
    case XUnit::EnergyKev: return "E (keV)";
    }
    return "x";
}

std::string Rounded(double value, int decimals)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// "2.153 ± 0.012 GPa": the pressure to the sigma's second significant digit.
std::string PressureText(const Result& r)
{
    const double p = r.pGpa;
    if (!std::isfinite(r.sigmaPGpa) || r.sigmaPGpa <= 0) return "P = " + Rounded(p, 2) + " GPa";
    const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(r.sigmaPGpa))), 0, 6);
    return "P = " + Rounded(p, decimals) + " ± " + Rounded(r.sigmaPGpa, decimals) + " GPa";
}

void LegendEntry(cairo_t* cr, double x, double y, const std::string& text, Colour c, bool dashed, bool tick)
{
    SetColour(cr, c);
    cairo_set_line_width(cr, tick ? 2 : 1.5);
    if (dashed) {
        const double dash[] = {4, 3};
        cairo_set_dash(cr, dash, 2, 0);
    }
    if (tick) {
        Line(cr, x + 11, y - 9, x + 11, y + 3);
    } else {
        Line(cr, x, y - 3, x + 22, y - 3);
    }
    cairo_set_dash(cr, nullptr, 0, 0);
    SetColour(cr, kInk);
    Text(cr, x + 30, y + 1, text);
}

}  // namespace

void ReleasePlotCaches()
{
    cairo_debug_reset_static_data();
    FcFini();
}

std::string_view PlotExtension(PlotFormat format)
{
    return format == PlotFormat::Svg ? ".svg" : ".png";
}

FitLayers ChooseLayers(const pattern::Pattern& pattern, const pattern::Outcome& outcome)
{
    const std::vector<double>& xs = pattern.x;
    const std::size_t n = xs.size();
    FitLayers l;
    l.curve.assign(n, kNone);
    l.background.assign(n, kNone);
    l.residual.assign(n, kNone);
    if (outcome.result.status == Status::Error || n == 0) return l;
    const double xLo = std::min(xs.front(), xs.back()), xHi = std::max(xs.front(), xs.back());
    for (const pattern::PeakRow& p : outcome.peaks) {
        const double pos = std::isfinite(p.predicted) ? p.predicted : p.position;
        if (!std::isfinite(pos) || pos < xLo || pos > xHi) continue;
        l.reflections = true;
        (p.used ? l.used : l.leftOut) = true;
    }
    // Each run of fitted points is one fitted window; it stays when a used reflection's
    // fitted position lies in it.
    const std::size_t m = std::min({n, outcome.curve.size(), pattern.intensity.size()});
    for (std::size_t i = 0; i < m;) {
        if (!std::isfinite(outcome.curve[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < m && std::isfinite(outcome.curve[j])) ++j;
        const double lo = std::min(xs[i], xs[j - 1]), hi = std::max(xs[i], xs[j - 1]);
        const bool holdsUsed = std::any_of(outcome.peaks.begin(), outcome.peaks.end(), [&](const pattern::PeakRow& p) {
            return p.used && p.position >= lo && p.position <= hi;
        });
        for (std::size_t k = i; holdsUsed && k < j; ++k) {
            l.curve[k] = outcome.curve[k];
            if (k < outcome.background.size()) l.background[k] = outcome.background[k];
            l.residual[k] = pattern.intensity[k] - outcome.curve[k];
            l.fit = true;
            l.residualPanel = l.residualPanel || std::isfinite(l.residual[k]);
        }
        i = j;
    }
    return l;
}

std::vector<double> SpreadLabels(std::span<const double> at, double pitch, double lo, double hi)
{
    std::vector<double> out(at.begin(), at.end());
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = std::max(out[i], i ? out[i - 1] + pitch : lo);
    }
    for (std::size_t i = out.size(); i-- > 0;) {
        out[i] = std::min(out[i], i + 1 < out.size() ? out[i + 1] - pitch : hi);
    }
    // More labels than fit: they start at lo and overlap rather than leave the plot.
    for (double& v : out) v = std::max(v, lo);
    return out;
}

std::string DrawFit(const std::string& path, PlotFormat format, const pattern::Pattern& pattern,
                    const pattern::Outcome& outcome, const FitCaption& caption)
{
    constexpr int kWidth = 1000, kHeight = 700;
    constexpr double left = 84, right = kWidth - 24;
    constexpr double bandHeight = 52, residualHeight = 120, bottomMargin = 58;
    constexpr double axisBottom = kHeight - bottomMargin;

    Canvas canvas(path, format, kWidth, kHeight);
    cairo_t* cr = canvas.cr();
    const Result& r = outcome.result;
    const FitLayers layers = ChooseLayers(pattern, outcome);

    // Title: the file, then standard, temperature and pressure, or why there is none.
    Font(cr, 17, true);
    SetColour(cr, kInk);
    Text(cr, left, 28, Fitted(cr, std::string(caption.file), right - left));
    Font(cr, 14);
    const std::string conditions = std::string(caption.standard) + ", T = " + Shortest(caption.tCelsius) + " °C";
    double top = 72;
    if (r.status == Status::Error) {
        Text(cr, left, 52, conditions + ", ");
        SetColour(cr, kError);
        const double at = left + TextWidth(cr, conditions + ", ");
        const std::vector<std::string> why = Wrapped(cr, "no pressure: " + r.message, right - at, 3);
        for (std::size_t i = 0; i < why.size(); ++i) Text(cr, at, 52 + 18 * static_cast<double>(i), why[i]);
        top += 18 * static_cast<double>(why.size() - 1);
    } else {
        const auto used = std::count_if(outcome.peaks.begin(), outcome.peaks.end(),
                                        [](const pattern::PeakRow& p) { return p.used; });
        std::string line = conditions + ", " + PressureText(r) + "  (a = " + Rounded(r.a, 5) + " Å, " +
                           std::to_string(used) + " of " + std::to_string(outcome.peaks.size()) + " reflections)";
        Text(cr, left, 52, Fitted(cr, line, right - left));
        if (r.status == Status::Warning) {
            // Under the pressure, whole: a warning is read to decide whether the number stands.
            SetColour(cr, kLeftOut);
            Font(cr, 13);
            const std::vector<std::string> why = Wrapped(cr, "warning: " + r.message, right - left, 3);
            for (std::size_t i = 0; i < why.size(); ++i) Text(cr, left, 70 + 17 * static_cast<double>(i), why[i]);
            top += 17 * static_cast<double>(why.size());
        }
    }

    // Panels from the bottom up: the residual when there is one, the reflections' band when
    // there are ticks, the main panel above; the x labels under the lowest.
    const double residualTop = axisBottom - residualHeight;
    const double bandBottom = layers.residualPanel ? residualTop - 8 : axisBottom - 22;
    const double bandTop = layers.reflections ? bandBottom - bandHeight : bandBottom;
    const double mainBottom = layers.reflections || layers.residualPanel ? bandTop : axisBottom;

    const std::vector<double>& xs = pattern.x;
    if (xs.empty()) {
        Frame(cr, left, top, right, axisBottom);
        return canvas.Finish();
    }
    double xLo = std::min(xs.front(), xs.back()), xHi = std::max(xs.front(), xs.back());
    Widen(xLo, xHi, 0.0);
    const Axis x{xLo, xHi, left, right};

    double yLo = INFINITY, yHi = -INFINITY;
    for (const std::vector<double>* v : {&pattern.intensity, &layers.curve, &layers.background}) {
        for (double value : *v) {
            if (!std::isfinite(value)) continue;
            yLo = std::min(yLo, value);
            yHi = std::max(yHi, value);
        }
    }
    Widen(yLo, yHi, 0.05);
    const Axis y{yLo, yHi, mainBottom, top};

    // Main panel.
    // Without a residual panel the x labels go under the main panel, below the band if any.
    XTicks(cr, x, top, mainBottom, !layers.residualPanel, false, (layers.reflections ? bandBottom : mainBottom) + 17);
    YTicks(cr, y, left, right, 6);
    cairo_save(cr);
    cairo_rectangle(cr, left, top, right - left, mainBottom - top);
    cairo_clip(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    SetColour(cr, kData);
    cairo_set_line_width(cr, 1);
    Curve(cr, x, y, xs, pattern.intensity);
    SetColour(cr, kBackground);
    const double dash[] = {5, 3};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 1.2);
    Curve(cr, x, y, xs, layers.background);
    cairo_set_dash(cr, nullptr, 0, 0);
    SetColour(cr, kFitColour);
    cairo_set_line_width(cr, 1.6);
    Curve(cr, x, y, xs, layers.curve);
    cairo_restore(cr);
    Frame(cr, left, top, right, mainBottom);
    Font(cr, 13);
    SetColour(cr, kInk);
    VerticalText(cr, 22, (top + mainBottom) / 2, "intensity");

    // Reflections: a tick each, its hkl below it read upwards; labels that would touch are
    // moved along a thin leader, and kept inside the plot.
    Font(cr, 11);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    struct Tick {
        double px;
        const pattern::PeakRow* peak;
    };
    std::vector<Tick> ticks;
    for (const pattern::PeakRow& p : outcome.peaks) {
        if (!layers.reflections) break;
        // Where the lattice puts it: a spoiled reflection's fitted position may lie off it.
        const double pos = std::isfinite(p.predicted) ? p.predicted : p.position;
        if (!std::isfinite(pos) || pos < xLo || pos > xHi) continue;
        ticks.push_back({x(pos), &p});
    }
    std::sort(ticks.begin(), ticks.end(), [](const Tick& a, const Tick& b) { return a.px < b.px; });
    // More labels than the band holds: only the used reflections are named.
    const double pitch = fe.ascent + 2, labelLo = left + fe.ascent / 2 + 2, labelHi = right - fe.ascent / 2 - 2;
    const bool crowded = static_cast<double>(ticks.size()) * pitch > labelHi - labelLo;
    std::vector<double> at, named;
    for (const Tick& t : ticks) {
        at.push_back(std::round(t.px) + 0.5);
        if (!crowded || t.peak->used) named.push_back(at.back());
    }
    const std::vector<double> labels = SpreadLabels(named, pitch, labelLo, labelHi);
    for (std::size_t i = 0, k = 0; i < ticks.size(); ++i) {
        const Tick& t = ticks[i];
        const Colour c = t.peak->used ? kUsed : kLeftOut;
        const double px = at[i];
        SetColour(cr, c);
        cairo_set_line_width(cr, 2);
        if (!t.peak->used) {
            const double d[] = {3, 2};
            cairo_set_dash(cr, d, 2, 0);
        }
        Line(cr, px, bandTop + 2, px, bandTop + 16);
        cairo_set_dash(cr, nullptr, 0, 0);
        if (crowded && !t.peak->used) continue;
        const double lx = labels[k++];
        if (std::abs(lx - px) > 0.5) {
            cairo_set_line_width(cr, 0.6);
            Line(cr, px, bandTop + 16, lx, bandTop + 21);
        }
        cairo_save(cr);
        cairo_translate(cr, lx + fe.ascent / 2 - 1, bandBottom - 2);
        cairo_rotate(cr, -M_PI / 2);
        cairo_move_to(cr, 0, 0);
        cairo_show_text(cr, ReflectionText(t.peak->reflection).c_str());
        cairo_restore(cr);
    }

    // Residual panel, the x axis below it.
    if (layers.residualPanel) {
        double rMax = 0;
        for (double v : layers.residual) {
            if (std::isfinite(v)) rMax = std::max(rMax, std::abs(v));
        }
        if (!(rMax > 0)) rMax = 1;
        const Axis yr{-rMax * 1.1, rMax * 1.1, axisBottom, residualTop};
        XTicks(cr, x, residualTop, axisBottom, true);
        YTicks(cr, yr, left, right, 3);
        cairo_save(cr);
        cairo_rectangle(cr, left, residualTop, right - left, axisBottom - residualTop);
        cairo_clip(cr);
        SetColour(cr, kInk, 0.5);
        cairo_set_line_width(cr, 1);
        Line(cr, left, std::round(yr(0)) + 0.5, right, std::round(yr(0)) + 0.5);
        SetColour(cr, kFitColour, 0.9);
        Curve(cr, x, yr, xs, layers.residual);
        cairo_restore(cr);
        Frame(cr, left, residualTop, right, axisBottom);
        Font(cr, 13);
        SetColour(cr, kInk);
        VerticalText(cr, 22, (residualTop + axisBottom) / 2, "residual");
    }
    Font(cr, 13);
    SetColour(cr, kInk);
    Text(cr, (left + right) / 2, kHeight - 12, AxisLabel(outcome.unit), Align::Centre);

    // The legend names what is drawn, at the top of the main panel: on the right unless the
    // data reach higher under it than on the left or in the middle.
    struct Entry {
        const char* text;
        Colour colour;
        bool dashed, tick;
    };
    std::vector<Entry> entries{{"data", kData, false, false}};
    if (layers.fit) {
        entries.push_back({"fit", kFitColour, false, false});
        entries.push_back({"background", kBackground, true, false});
    }
    if (layers.used) entries.push_back({"used", kUsed, false, true});
    if (layers.leftOut) entries.push_back({"left out", kLeftOut, true, true});
    Font(cr, 12);
    constexpr double legendWidth = 150;
    const double legendHeight = static_cast<double>(entries.size()) * 18 + 10;
    const double ly = top + 10;
    double lx = right - legendWidth - 10, clearest = -INFINITY;
    for (const double from : {right - legendWidth - 10, left + 10, (left + right - legendWidth) / 2}) {
        double highest = INFINITY;  // the data's smallest device y under the box
        for (std::size_t i = 0; i < xs.size() && i < pattern.intensity.size(); ++i) {
            const double px = x(xs[i]);
            if (px >= from && px <= from + legendWidth && std::isfinite(pattern.intensity[i])) {
                highest = std::min(highest, y(pattern.intensity[i]));
            }
        }
        if (highest > clearest) {
            clearest = highest;
            lx = from;
        }
        if (highest > ly + legendHeight + 4) break;  // clear of the data: take it
    }
    cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
    cairo_rectangle(cr, lx, ly, legendWidth, legendHeight);
    cairo_fill_preserve(cr);
    SetColour(cr, kGrid);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        LegendEntry(cr, lx + 10, ly + 20 + 18 * static_cast<double>(i), e.text, e.colour, e.dashed, e.tick);
    }
    return canvas.Finish();
}

std::string DrawSeries(const std::string& path, PlotFormat format, std::span<const SeriesPoint> points)
{
    constexpr int kWidth = 1000;
    constexpr double left = 84, right = kWidth - 24, top = 60, plotHeight = 382;
    constexpr std::size_t kMaxLabels = 60;  // beyond this, the points' numbers
    const bool labelled = points.size() <= kMaxLabels &&
                          std::any_of(points.begin(), points.end(), [](const SeriesPoint& p) { return !p.label.empty(); });

    // Room under the plot for the longest label read upwards, within reason.
    double labelRoom = 0;
    if (labelled) {
        cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        cairo_t* pc = cairo_create(probe);
        Font(pc, 11);
        for (const SeriesPoint& p : points) labelRoom = std::max(labelRoom, TextWidth(pc, p.label));
        cairo_destroy(pc);
        cairo_surface_destroy(probe);
        labelRoom = std::min(labelRoom, 180.0);
    }
    const double bottom = top + plotHeight;
    const int kHeight = static_cast<int>(bottom + (labelled ? labelRoom + 36 : 58));
    Canvas canvas(path, format, kWidth, kHeight);
    cairo_t* cr = canvas.cr();

    std::size_t computed = 0, flagged = 0;
    double lo = INFINITY, hi = -INFINITY;
    for (const SeriesPoint& p : points) {
        if (!std::isfinite(p.pGpa)) continue;
        ++computed;
        flagged += p.flagged;
        const double s = std::isfinite(p.sigmaPGpa) ? p.sigmaPGpa : 0;
        lo = std::min(lo, p.pGpa - s);
        hi = std::max(hi, p.pGpa + s);
    }
    Font(cr, 17, true);
    SetColour(cr, kInk);
    Text(cr, left, 28, "Pressure of " + std::to_string(points.size()) + (points.size() == 1 ? " pattern" : " patterns"));
    Font(cr, 14);
    const std::size_t missing = points.size() - computed;
    std::string summary = std::to_string(computed) + " computed";
    if (flagged) summary += ", " + std::to_string(flagged) + " flagged (ringed)";
    if (missing) summary += ", " + std::to_string(missing) + " refused (crosses on the axis)";
    Text(cr, left, 48, Fitted(cr, summary + "; error bars ± 1 σ", right - left));

    Widen(lo, hi, 0.08);
    const double n = static_cast<double>(std::max<std::size_t>(points.size(), 1));
    const Axis x{0.5, n + 0.5, left, right};
    const Axis y{lo, hi, bottom, top};
    XTicks(cr, x, top, bottom, !labelled, true);
    YTicks(cr, y, left, right, 6);
    cairo_save(cr);
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_clip(cr);
    const bool dense = points.size() > 200;
    const double radius = dense ? 1.5 : 3;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const SeriesPoint& p = points[i];
        const double px = x(static_cast<double>(i + 1));
        if (!std::isfinite(p.pGpa)) {
            // A cross on the axis where a file has no pressure.
            SetColour(cr, kError);
            cairo_set_line_width(cr, 1.2);
            const double r = dense ? 2 : 4;
            Line(cr, px - r, bottom - 6 - r, px + r, bottom - 6 + r);
            Line(cr, px - r, bottom - 6 + r, px + r, bottom - 6 - r);
            continue;
        }
        if (std::isfinite(p.sigmaPGpa) && p.sigmaPGpa > 0) {
            SetColour(cr, kBackground, 0.8);
            cairo_set_line_width(cr, 1);
            const double y0 = y(p.pGpa - p.sigmaPGpa), y1 = y(p.pGpa + p.sigmaPGpa);
            Line(cr, px, y0, px, y1);
            if (!dense) {
                Line(cr, px - 3, y0, px + 3, y0);
                Line(cr, px - 3, y1, px + 3, y1);
            }
        }
        SetColour(cr, kInk);
        cairo_arc(cr, px, y(p.pGpa), radius, 0, 2 * M_PI);
        cairo_fill(cr);
        if (p.flagged) {
            // A ring: the pressure jumps away from both neighbours.
            SetColour(cr, kLeftOut);
            cairo_set_line_width(cr, 1.5);
            cairo_new_sub_path(cr);
            cairo_arc(cr, px, y(p.pGpa), radius + 4, 0, 2 * M_PI);
            cairo_stroke(cr);
        }
    }
    cairo_restore(cr);
    Frame(cr, left, top, right, bottom);
    if (labelled) {
        // Each point's label read upwards under it; a refused file's in the colour of its cross.
        Font(cr, 11);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const SeriesPoint& p = points[i];
            const std::string text = p.label.empty() ? std::to_string(i + 1) : Fitted(cr, p.label, labelRoom);
            const double px = std::round(x(static_cast<double>(i + 1))) + 0.5;
            SetColour(cr, !std::isfinite(p.pGpa) ? kError : p.flagged ? kLeftOut : kInk);
            cairo_save(cr);
            cairo_translate(cr, px + 4, bottom + 6 + TextWidth(cr, text));
            cairo_rotate(cr, -M_PI / 2);
            cairo_move_to(cr, 0, 0);
            cairo_show_text(cr, text.c_str());
            cairo_restore(cr);
        }
    }
    Font(cr, 13);
    SetColour(cr, kInk);
    VerticalText(cr, 22, (top + bottom) / 2, "P (GPa)");
    if (!labelled) Text(cr, (left + right) / 2, kHeight - 12, "pattern, in input order", Align::Centre);
    return canvas.Finish();
}

}  // namespace hv::cli
