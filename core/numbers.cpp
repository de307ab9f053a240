#include "core/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace hv {

namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

template <typename T>
std::string ShortestOf(T value)
{
    if (value == 0) return "0";
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

}  // namespace

std::string Quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text.substr(0, 32)) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7f) ? c : '?';
    }
    return out + (text.size() > 32 ? "...\"" : "\"");
}

bool ParseNumber(std::string_view text, double& value, std::string& why)
{
    const std::string_view t = Trim(text);
    std::string_view digits = t;
    const bool plus = !digits.empty() && digits.front() == '+';
    if (plus) digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+' || (plus && digits.front() == '-')) {
        why = t.empty() ? "empty, a number is needed" : Quoted(t) + " is not a number";
        return false;
    }
    double parsed = 0;
    // Plain decimal and exponent forms only: no hexadecimal, no "inf" or "nan".
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed,
                                           std::chars_format::general);
    if (end != digits.data() + digits.size() || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        why = Quoted(t) + " is not a number";
        return false;
    }
    if (ec == std::errc::result_out_of_range) {
        why = Quoted(t) + " is out of range";
        return false;
    }
    if (!std::isfinite(parsed)) {
        why = Quoted(t) + " is not a finite number";
        return false;
    }
    value = parsed;
    return true;
}

bool CheckTemperature(float celsius, std::string& why)
{
    if (!std::isfinite(celsius)) {
        why = "temperature out of range";
        return false;
    }
    if (static_cast<double>(celsius) + 273.15 < 0) {
        why = "temperature below absolute zero (-273.15 C, 0 K)";
        return false;
    }
    return true;
}

bool ParseTemperature(std::string_view text, float& celsius, std::string& why)
{
    std::string_view t = Trim(text);
    const bool kelvin = !t.empty() && (t.back() == 'K' || t.back() == 'k');
    if (kelvin) t = Trim(t.substr(0, t.size() - 1));
    double value = 0;
    if (!ParseNumber(t, value, why)) {
        why = "temperature: " + why;
        return false;
    }
    if (kelvin && value < 0) {
        why = "temperature below absolute zero (0 K)";
        return false;
    }
    const float c = static_cast<float>(kelvin ? value - 273.15 : value);
    if (!CheckTemperature(c, why)) return false;
    celsius = c;
    return true;
}

std::string Shortest(float value)
{
    return ShortestOf(value);
}

std::string Shortest(double value)
{
    return ShortestOf(value);
}

bool Hundredths(float value, int32_t& hundredths)
{
    // The product is exact in double; nearbyint rounds halves to even in the default mode.
    const double rounded = std::nearbyint(static_cast<double>(value) * 100);
    if (!(rounded >= std::numeric_limits<int32_t>::min() && rounded <= std::numeric_limits<int32_t>::max())) {
        return false;
    }
    hundredths = static_cast<int32_t>(rounded);
    return true;
}

}  // namespace hv
