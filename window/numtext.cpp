#include "window/numtext.h"

#include "core/numbers.h"

#include <QLocale>

#include <cmath>
#include <string>

namespace numtext {

namespace {

QLocale UserLocale()
{
    QLocale locale;
    // "4.119" in a locale with a decimal comma must not read as 4119.
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

// The C locale writes and reads the form every locale's text is turned into.
QLocale Plain()
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return c;
}

// Right-to-left locales put these around signs and exponents. They are invisible, carry
// no value, and Qt's own parser refuses the text they are in.
bool IsDirectionMark(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Text without direction marks, case-folded, with the locale's digits made ASCII, so that
// typed text and the locale's symbols ("×۱۰^" in Persian) compare as equals.
std::u32string Folded(const QString& text, char32_t zero)
{
    std::u32string out;
    for (char32_t c : text.toCaseFolded().toUcs4()) {
        if (IsDirectionMark(c)) continue;
        if (c >= zero && c <= zero + 9) c = U'0' + (c - zero);
        out.push_back(c);
    }
    return out;
}

// The typed number in the C locale's form, or an empty string when some part of it is
// neither a digit nor a sign, separator or exponent symbol of the locale.
QString ToPlain(const QString& text, const QLocale& locale)
{
    const std::u32string zeroText = locale.zeroDigit().toStdU32String();
    const char32_t zero = zeroText.size() == 1 ? zeroText[0] : U'0';
    const std::u32string in = Folded(text, zero);
    struct Symbol {
        std::u32string text;
        char plain;
    };
    // Checked in this order: the decimal separator and the exponent before the signs.
    const Symbol symbols[] = {
        {Folded(locale.decimalPoint(), zero), '.'},   {Folded(locale.exponential(), zero), 'e'},
        {Folded(locale.negativeSign(), zero), '-'},   {Folded(locale.positiveSign(), zero), '+'},
        {U"e", 'e'}, {U"-", '-'}, {U"\u2212", '-'}, {U"+", '+'},
    };
    QString out;
    for (std::size_t i = 0; i < in.size();) {
        if (in[i] >= U'0' && in[i] <= U'9') {
            out += QLatin1Char(static_cast<char>(in[i]));
            ++i;
            continue;
        }
        const Symbol* found = nullptr;
        for (const Symbol& s : symbols) {
            if (!s.text.empty() && in.compare(i, s.text.size(), s.text) == 0) {
                found = &s;
                break;
            }
        }
        if (!found) return {};
        out += QLatin1Char(found->plain);
        i += found->text.size();
    }
    return out;
}

QString Format(double value, int digits)
{
    if (value == 0) {
        value = 0;  // no "-0"
    }
    QString text = Plain().toString(value, 'g', digits);
    text.replace(QLatin1Char('.'), UserLocale().decimalPoint());
    return text;
}

}  // namespace

Parse TextToSingle(const QString& text, float& value)
{
    const QLocale locale = UserLocale();
    QString marked = text;
    marked.removeIf([](QChar c) { return IsDirectionMark(c.unicode()); });
    const QString trimmed = marked.trimmed();
    if (trimmed.isEmpty()) {
        return Parse::Empty;
    }
    const QString plain = ToPlain(trimmed, locale);
    if (plain.isEmpty()) {
        return Parse::NotANumber;
    }
    bool ok = false;
    const double wide = Plain().toDouble(plain, &ok);
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
