#include "core/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

// libstdc++ converts floating-point numbers itself; libc++ (the WebAssembly build) does not
// yet, and there fast_float and Dragonbox stand in with libstdc++'s results reproduced.
#if !defined(__cpp_lib_to_chars)
#include "dragonbox/dragonbox.h"
#include "fast_float/fast_float.h"
#define HV_PORTABLE_CHARCONV 1
#endif

namespace hv {

namespace {

#if HV_PORTABLE_CHARCONV
// std::from_chars as libstdc++ has it: fast_float's value, but a nonzero number that rounds
// to 0 or a finite one that rounds to infinity is out of range and leaves value alone.
std::from_chars_result FromChars(const char* first, const char* last, double& value)
{
    double parsed = 0;
    const auto r = fast_float::from_chars(first, last, parsed, fast_float::chars_format::general);
    if (r.ec != std::errc()) return {r.ptr, r.ec};
    const char* p = first + (first != last && *first == '-');
    const bool literal = p != r.ptr && (*p == 'i' || *p == 'I' || *p == 'n' || *p == 'N');
    bool nonzero = false;
    for (; p != r.ptr && *p != 'e' && *p != 'E'; ++p) nonzero = nonzero || (*p >= '1' && *p <= '9');
    if ((std::isinf(parsed) && !literal) || (parsed == 0 && nonzero)) return {r.ptr, std::errc::result_out_of_range};
    value = parsed;
    return {r.ptr, std::errc()};
}

// The decimal digits of an unsigned integer, at out; returns the end.
char* Digits(unsigned __int128 u, char* out)
{
    char reversed[48];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + static_cast<int>(u % 10));
        u /= 10;
    } while (u != 0);
    while (n > 0) *out++ = reversed[--n];
    return out;
}

// std::to_chars(value) as libstdc++ writes it: the shortest digits that read back (Dragonbox
// finds the same ones as its Ryu), in printf's %f or %e form, whichever is shorter, %f on a
// tie; an integer in %f form is written exactly, as printf would.
template <typename T>
std::to_chars_result ToCharsOf(char* first, char* last, T value)
{
    char text[400];
    char* out = text;
    if (std::signbit(value)) *out++ = '-';
    if (value == 0) {
        *out++ = '0';
    } else if (std::isinf(value)) {
        out = std::strcpy(out, "inf") + 3;
    } else if (std::isnan(value)) {
        out = std::strcpy(out, "nan") + 3;
    } else {
        const auto dec = jkj::dragonbox::to_decimal(value, jkj::dragonbox::policy::sign::ignore);
        char digits[24];
        const int s = static_cast<int>(Digits(dec.significand, digits) - digits);
        const int k = dec.exponent;
        const int e = k + s - 1;  // exponent of the scientific form
        const int sciLength = s + (s > 1) + 2 + (std::abs(e) >= 100 ? 3 : 2);
        const int fixedLength = k >= 0 ? s + k : (e >= 0 ? s + 1 : s + 1 - e);
        if (fixedLength <= sciLength) {
            if (k >= 0) {
                // Integers up to 10^22 (fixed form is longer beyond): mantissa times a power of 2.
                int exp2 = 0;
                const T mantissa = std::frexp(std::fabs(value), &exp2);
                using Bits = unsigned __int128;
                constexpr int kBits = std::numeric_limits<T>::digits;
                const Bits m = static_cast<Bits>(std::ldexp(mantissa, kBits));
                const int shift = exp2 - kBits;
                out = Digits(shift >= 0 ? m << shift : m >> -shift, out);
            } else if (e >= 0) {
                out = std::copy(digits, digits + e + 1, out);
                *out++ = '.';
                out = std::copy(digits + e + 1, digits + s, out);
            } else {
                *out++ = '0';
                *out++ = '.';
                out = std::fill_n(out, -e - 1, '0');
                out = std::copy(digits, digits + s, out);
            }
        } else {
            *out++ = digits[0];
            if (s > 1) {
                *out++ = '.';
                out = std::copy(digits + 1, digits + s, out);
            }
            *out++ = 'e';
            *out++ = e < 0 ? '-' : '+';
            const int magnitude = std::abs(e);
            if (magnitude < 10) *out++ = '0';
            out = Digits(static_cast<unsigned>(magnitude), out);
        }
    }
    const auto size = out - text;
    if (last - first < size) return {last, std::errc::value_too_large};
    return {std::copy(text, out, first), std::errc()};
}
#else
std::from_chars_result FromChars(const char* first, const char* last, double& value)
{
    return std::from_chars(first, last, value, std::chars_format::general);
}

template <typename T>
std::to_chars_result ToCharsOf(char* first, char* last, T value)
{
    return std::to_chars(first, last, value);
}
#endif

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
    const auto [end, ec] = ToCharsOf(buffer, buffer + sizeof buffer, value);
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
    const auto [end, ec] = FromChars(digits.data(), digits.data() + digits.size(), parsed);
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

std::to_chars_result ToChars(char* first, char* last, double value)
{
    return ToCharsOf(first, last, value);
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
