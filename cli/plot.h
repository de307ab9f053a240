// Pictures of pattern fits, drawn with cairo: one per pattern (data, fitted profile,
// background, residual, the standard's reflections) and one of a series' pressures.
#pragma once

#include "pattern/pattern.h"

#include <cairo.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv::cli {

enum class PlotFormat { Png, Svg };

// ".png" or ".svg".
std::string_view PlotExtension(PlotFormat format);

// What the title says beside the numbers of the outcome.
struct FitCaption {
    std::string_view file;      // as the user named it
    std::string_view standard;  // the standard's name
    float tCelsius = 0;
};

// Draws one fit into path; empty on success, otherwise why not.
std::string DrawFit(const std::string& path, PlotFormat format, const pattern::Pattern& pattern,
                    const pattern::Outcome& outcome, const FitCaption& caption);

// What a fit's picture draws, decided apart from the drawing. A refused pattern draws its
// data only; otherwise a fitted window is drawn only where a used reflection lies in it, so
// that a fit that failed, or whose reflections were all left out, is never drawn as a curve.
struct FitLayers {
    std::vector<double> curve, background, residual;  // on the pattern's x; NaN where not drawn
    bool fit = false;          // some curve is drawn
    bool reflections = false;  // reflection ticks are drawn
    bool used = false, leftOut = false;  // ticks of either kind among them
    bool residualPanel = false;
};
FitLayers ChooseLayers(const pattern::Pattern& pattern, const pattern::Outcome& outcome);

// Label positions for marks at `at` (ascending): each at least pitch after the one before,
// none outside [lo, hi] while they fit; crowded labels move along, keeping their order.
std::vector<double> SpreadLabels(std::span<const double> at, double pitch, double lo, double hi);

// One point of a series: the pressure and its uncertainty, NaN where the file has none.
struct SeriesPoint {
    double pGpa = kNone;
    double sigmaPGpa = kNone;
    std::string label = {}; // the file, or its temperature; empty: the point's number
    bool flagged = false;   // its pressure jumps away from both neighbours
};

// P with error bars against the files' order (1 for the first): refused files as crosses on
// the axis, flagged ones ringed; the points named by their labels while they fit below.
std::string DrawSeries(const std::string& path, PlotFormat format, std::span<const SeriesPoint> points);

// Frees what cairo and fontconfig keep for the whole process (font caches), once no picture
// is being drawn any more: the program ends with nothing left allocated.
void ReleasePlotCaches();

// The drawing pieces every picture of the program shares, so that they all look alike.
namespace draw {

struct Colour {
    double r, g, b;
};
constexpr Colour kInk{0.1, 0.1, 0.1};
constexpr Colour kData{0.35, 0.35, 0.35};
constexpr Colour kFitColour{0.84, 0.15, 0.16};
constexpr Colour kBackground{0.12, 0.35, 0.80};
constexpr Colour kUsed{0.10, 0.55, 0.20};
constexpr Colour kLeftOut{0.93, 0.49, 0.05};
constexpr Colour kError{0.75, 0.05, 0.05};
constexpr Colour kGrid{0.88, 0.88, 0.88};

void SetColour(cairo_t* cr, Colour c, double alpha = 1);

// A surface of either kind, finished on destruction; Finish says whether writing worked.
class Canvas {
public:
    Canvas(const std::string& path, PlotFormat format, int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return cr_; }
    std::string Finish();

private:
    std::string path_;
    PlotFormat format_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

// A linear map from data to device coordinates.
struct Axis {
    double lo, hi;      // data
    double from, to;    // device
    double operator()(double v) const { return from + (v - lo) / (hi - lo) * (to - from); }
};

// Widens an empty or degenerate range by margin of its width (or 5 % of its value).
void Widen(double& lo, double& hi, double margin);

struct Ticks {
    double first = 0, step = 1;
    int count = 0;
    int decimals = 0;
};

enum class Align { Left, Centre, Right };

double TextWidth(cairo_t* cr, const std::string& text);
void Text(cairo_t* cr, double x, double y, const std::string& text, Align align = Align::Left);
// The text cut with an ellipsis to fit width.
std::string Fitted(cairo_t* cr, std::string text, double width);
// The text in lines of at most width, broken at blanks; the last of maxLines cut to fit.
std::vector<std::string> Wrapped(cairo_t* cr, const std::string& text, double width, std::size_t maxLines);
void Font(cairo_t* cr, double size, bool bold = false);
void Line(cairo_t* cr, double x0, double y0, double x1, double y1);
void Frame(cairo_t* cr, double left, double top, double right, double bottom);
// Grid lines, tick marks and (for x, when labels) tick labels, at labelY (NaN: just below bottom).
void XTicks(cairo_t* cr, const Axis& x, double top, double bottom, bool labels, bool whole = false,
            double labelY = kNone);
void YTicks(cairo_t* cr, const Axis& y, double left, double right, int want);
// Text read from bottom to top, centred on (x, y).
void VerticalText(cairo_t* cr, double x, double y, const std::string& text);
// A polyline through the finite points; a NaN breaks it.
void Curve(cairo_t* cr, const Axis& x, const Axis& y, const std::vector<double>& xs, const std::vector<double>& ys);

}  // namespace draw

}  // namespace hv::cli
