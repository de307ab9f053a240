// The pressure standards the program knows and the reflections each one shows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv {

// Rock salt (NaCl, KCl) is face-centred: h, k, l all even or all odd. CsCl is primitive.
enum class Lattice { RockSalt, Primitive };

struct Standard {
    std::string_view name;  // "NaCl", "KCl", "CsCl"
    int16_t code;           // the engine's ISTD
    float a0;               // ambient lattice parameter, angstrom, as the window holds it
    Lattice lattice;
};

// NaCl, KCl, CsCl, in that order.
std::span<const Standard> Standards();

// By exact name, as the window matches it; nullptr when unknown.
const Standard* FindStandard(std::string_view name);
// Letter case ignored ("nacl"), for typed and file input.
const Standard* FindStandardAnyCase(std::string_view name);
// "NaCl, KCl, CsCl", for messages.
std::string StandardNames();

// Engine code of a standard name, compared exactly; previous for any other name.
int16_t StandardCodeOf(std::string_view name, int16_t previous);

struct Hkl {
    int h = 0, k = 0, l = 0;
    friend bool operator==(const Hkl&, const Hkl&) = default;
};

// h^2 + k^2 + l^2.
int SquareSum(const Hkl& hkl);

// Whether the lattice diffracts from (h k l): never 0 0 0; rock salt needs all even or all odd.
bool Allowed(Lattice lattice, const Hkl& hkl);

// Why a lattice lacks a reflection, in words.
std::string WhyNotAllowed(const Standard& standard, const Hkl& hkl);

// Every distinct reflection with h >= k >= l >= 0 and h^2+k^2+l^2 <= maxN, by rising
// h^2+k^2+l^2, then falling h (CsCl's 3 0 0 before 2 2 1).
std::vector<Hkl> Reflections(const Standard& standard, int maxN);

// Largest index magnitude and h^2+k^2+l^2 accepted anywhere: far beyond any measurable
// reflection, and small enough that no sum overflows.
constexpr int kMaxIndex = 1000;
constexpr int kMaxSquareSum = 3 * kMaxIndex * kMaxIndex;

// A measured reflection: its indices and h^2+k^2+l^2, or the lattice parameter itself (n 1).
struct Reflection {
    Hkl hkl;
    int n = 0;
    bool latticeParameter = false;
};

// Reads "200", "2,0,0", "2 0 0" (also "-2 0 0", "10,0,0") or "lp". On failure says why,
// naming the reflections the standard does have.
std::optional<Reflection> ParseReflection(std::string_view text, const Standard& standard, std::string& why);

// "200" when every index is a single digit, otherwise "10 0 0"; "lp" for the lattice parameter.
std::string HklText(const Hkl& hkl);
std::string ReflectionText(const Reflection& reflection);

// The h^2+k^2+l^2 values the window steps through for a standard it offers, in stepping
// order, 1 (the lattice parameter) first: NaCl's eight leave out 12 (2 2 2), CsCl's fifteen
// are 1 to 17 but 7 and 15. Empty for any other name, compared exactly.
std::span<const int16_t> WindowSteps(std::string_view standardName);

// The window's label of the reflection with h^2+k^2+l^2 = n: "2 0 0", "3 0 0, 2 2 1", and for
// n = 1 "L.P." (NaCl) or "1 0 0 / L.P." (CsCl); empty where it has none.
std::string ReflectionLabel(int n, std::string_view standardName);

}  // namespace hv
