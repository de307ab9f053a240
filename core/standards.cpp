#include "core/standards.h"

#include "core/crystal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace hv {

namespace {

bool SameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Spaced(const Hkl& hkl)
{
    return std::to_string(hkl.h) + ' ' + std::to_string(hkl.k) + ' ' + std::to_string(hkl.l);
}

// "111, 200, 220 ..." up to h^2+k^2+l^2 = 20, for messages.
std::string ListUpTo20(const Standard& standard)
{
    std::string out;
    for (const Hkl& hkl : Reflections(standard, 20)) {
        out += (out.empty() ? "" : ", ") + HklText(hkl);
    }
    return out;
}

}  // namespace

std::span<const Standard> Standards()
{
    return AllStandards().first(3);
}

const Standard* FindStandard(std::string_view name)
{
    for (const Standard& s : Standards()) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

const Standard* FindStandardAnyCase(std::string_view name)
{
    const std::size_t colon = name.find(':');
    const std::string_view material = name.substr(0, colon);
    for (const Standard& s : AllStandards()) {
        if (!SameLetters(s.material, material)) continue;
        if (colon == std::string_view::npos ? s.isDefault : SameLetters(s.scale, name.substr(colon + 1))) return &s;
    }
    return nullptr;
}

std::string StandardNames()
{
    std::string out;
    for (const Standard& s : Standards()) {
        out += (out.empty() ? "" : ", ") + std::string(s.name);
    }
    return out;
}

std::string AllStandardNames()
{
    std::string out;
    const auto all = AllStandards();
    for (std::size_t i = 0; i < all.size(); ++i) {
        bool first = true;
        for (std::size_t j = 0; j < i; ++j) first = first && all[j].material != all[i].material;
        if (!first) continue;
        out += (out.empty() ? "" : "), ") + std::string(all[i].material) + " (";
        std::string scales;
        for (std::size_t j = i; j < all.size(); ++j) {
            if (all[j].material == all[i].material) scales += (scales.empty() ? "" : ", ") + std::string(all[j].scale);
        }
        out += scales;
    }
    return out.empty() ? out : out + ")";
}

bool IsPublished(const Standard& standard)
{
    return standard.eos != nullptr;
}

int16_t StandardCodeOf(std::string_view name, int16_t previous)
{
    const Standard* s = FindStandard(name);
    return s ? s->code : previous;
}

int SquareSum(const Hkl& hkl)
{
    return hkl.h * hkl.h + hkl.k * hkl.k + hkl.l * hkl.l;
}

bool Allowed(Lattice lattice, const Hkl& hkl)
{
    if (hkl.h == 0 && hkl.k == 0 && hkl.l == 0) return false;
    switch (lattice) {
    case Lattice::Primitive: return true;
    case Lattice::BodyCentred: return ((hkl.h + hkl.k + hkl.l) & 1) == 0;
    case Lattice::Hexagonal: return (hkl.h - hkl.k) % 3 != 0 || (hkl.l & 1) == 0;
    case Lattice::RockSalt: break;
    }
    const int odd = (hkl.h & 1) + (hkl.k & 1) + (hkl.l & 1);
    return odd == 0 || odd == 3;
}

std::string WhyNotAllowed(const Standard& standard, const Hkl& hkl)
{
    std::string why = std::string(standard.name) + " has no reflection " + Spaced(hkl);
    if (hkl.h == 0 && hkl.k == 0 && hkl.l == 0) {
        why += ": 0 0 0 is no lattice plane";
    } else {
        const std::string structure(standard.structure ? standard.structure->name : "rock salt");
        switch (standard.lattice) {
        case Lattice::RockSalt: why += ": in " + structure + " h, k and l are all even or all odd"; break;
        case Lattice::BodyCentred: why += ": in " + structure + " h + k + l is even"; break;
        case Lattice::Hexagonal: return why + ": in " + structure + " l is even where h - k is a multiple of 3";
        case Lattice::Primitive: break;
        }
    }
    if (standard.lattice == Lattice::Hexagonal) return why;
    return why + ". Its reflections up to h^2+k^2+l^2 = 20: " + ListUpTo20(standard) +
           " (or lp for the lattice parameter)";
}

std::vector<Hkl> Reflections(const Standard& standard, int maxN)
{
    maxN = std::min(maxN, kMaxSquareSum);
    std::vector<Hkl> out;
    if (standard.lattice == Lattice::Hexagonal) return out;
    for (int h = 1; h * h <= maxN; ++h) {
        for (int k = 0; k <= h && h * h + k * k <= maxN; ++k) {
            for (int l = 0; l <= k && h * h + k * k + l * l <= maxN; ++l) {
                if (Allowed(standard.lattice, {h, k, l})) out.push_back({h, k, l});
            }
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Hkl& a, const Hkl& b) {
        const int na = SquareSum(a), nb = SquareSum(b);
        return na != nb ? na < nb : a.h > b.h;
    });
    return out;
}

std::optional<Reflection> ParseReflection(std::string_view text, const Standard& standard, std::string& why)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    const std::string shown(text.substr(0, 40));
    if (SameLetters(text, "lp")) {
        return Reflection{{1, 0, 0}, 1, true};
    }
    std::array<int, 3> idx{};
    const bool digitsOnly =
        !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digitsOnly) {
        if (text.size() != 3) {
            why = "reflection \"" + shown + "\": write three indices as 200, or separated as 10,0,0 or \"10 0 0\"";
            return std::nullopt;
        }
        for (int i = 0; i < 3; ++i) idx[static_cast<std::size_t>(i)] = text[static_cast<std::size_t>(i)] - '0';
    } else {
        // Integers separated by blanks, or by one comma with blanks around it.
        const auto separator = [](char c) { return c == ' ' || c == '\t' || c == ','; };
        std::size_t count = 0, i = 0;
        bool ok = !text.empty();
        while (ok && i < text.size()) {
            const std::size_t start = i;
            while (i < text.size() && !separator(text[i])) ++i;
            std::string_view token = text.substr(start, i - start);
            if (!token.empty() && token.front() == '+') token.remove_prefix(1);
            int value = 0;
            const auto [next, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
            if (count == 3 || token.empty() || token.front() == '+' || next != token.data() + token.size()) {
                ok = false;
                break;
            }
            if (ec != std::errc() || std::abs(static_cast<long>(value)) > kMaxIndex) {
                why = "reflection \"" + shown + "\": indices beyond " + std::to_string(kMaxIndex) + " are not accepted";
                return std::nullopt;
            }
            idx[count++] = value;
            int commas = 0;
            while (i < text.size() && separator(text[i])) commas += text[i++] == ',';
            if (commas > 1 || (commas > 0 && i == text.size())) ok = false;
        }
        if (!ok || count != 3) {
            why = "reflection \"" + shown + "\" is not h k l: write 200, 2,0,0, \"2 0 0\" or lp";
            return std::nullopt;
        }
    }
    const Hkl hkl{idx[0], idx[1], idx[2]};
    if (!Allowed(standard.lattice, hkl)) {
        why = WhyNotAllowed(standard, hkl);
        return std::nullopt;
    }
    return Reflection{hkl, SquareSum(hkl), false};
}

std::string HklText(const Hkl& hkl)
{
    const auto digit = [](int i) { return i >= 0 && i <= 9; };
    if (digit(hkl.h) && digit(hkl.k) && digit(hkl.l)) {
        return {static_cast<char>('0' + hkl.h), static_cast<char>('0' + hkl.k), static_cast<char>('0' + hkl.l)};
    }
    return Spaced(hkl);
}

std::string ReflectionText(const Reflection& reflection)
{
    return reflection.latticeParameter ? std::string("lp") : HklText(reflection.hkl);
}

std::span<const int16_t> WindowSteps(std::string_view standardName)
{
    static constexpr int16_t kNaCl[] = {1, 3, 4, 8, 11, 16, 19, 20};
    static constexpr int16_t kCsCl[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 16, 17};
    if (standardName == "NaCl") return kNaCl;
    if (standardName == "CsCl") return kCsCl;
    return {};
}

std::string ReflectionLabel(int n, std::string_view standardName)
{
    if (n == 1) {
        if (standardName == "NaCl") return "L.P.";
        if (standardName == "CsCl") return "1 0 0 / L.P.";
        return {};
    }
    struct Named { int n; const char* label; };
    static constexpr Named kNames[] = {
        {2, "1 1 0"},  {3, "1 1 1"},  {4, "2 0 0"},  {5, "2 1 0"},  {6, "2 1 1"},
        {8, "2 2 0"},  {9, "3 0 0, 2 2 1"},          {10, "3 1 0"}, {11, "3 1 1"},
        {12, "2 2 2"}, {13, "3 2 0"}, {14, "3 2 1"}, {16, "4 0 0"}, {17, "4 1 0"},
        {19, "3 3 1"}, {20, "4 2 0"},
    };
    for (const Named& named : kNames) {
        if (named.n == n) return named.label;
    }
    return {};
}

}  // namespace hv
