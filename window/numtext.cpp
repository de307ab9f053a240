#include "window/numtext.h"

#include "core/numbers.h"

#include <QLocale>

#include <cmath>

namespace numtext {

namespace {

QLocale UserLocale()
{
    QLocale locale;
    // "4.119" in a locale with a decimal comma must not read as 4119.
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

QString Format(double value, int digits)
{
    if (value == 0) {
        value = 0;  // no "-0"
    }
    return UserLocale().toString(value, 'g', digits);
}

}  // namespace

Parse TextToSingle(const QString& text, float& value)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return Parse::Empty;
    }
    bool ok = false;
    const double wide = UserLocale().toDouble(trimmed, &ok);
    if (!ok) {
        // Qt refuses overflowing numbers too; tell those apart from words.
        return std::isinf(wide) ? Parse::OutOfRange : Parse::NotANumber;
    }
    if (!std::isfinite(wide)) {
        return Parse::NotANumber;
    }
    const float narrow = static_cast<float>(wide);
    if (!std::isfinite(narrow)) {
        return Parse::OutOfRange;
    }
    value = narrow;
    return Parse::Ok;
}

QString Reason(Parse result)
{
    switch (result) {
    case Parse::Ok: return {};
    case Parse::Empty: return QStringLiteral("Enter a number");
    case Parse::NotANumber: return QStringLiteral("Not a number");
    case Parse::OutOfRange: return QStringLiteral("Number too large");
    }
    return {};
}

QString SingleToText(float value)
{
    return Format(static_cast<double>(value), 7);
}

QString DoubleToText(double value)
{
    return Format(value, 15);
}

bool Hundredths(float value, int32_t& hundredths)
{
    return hv::Hundredths(value, hundredths);
}

}  // namespace numtext
