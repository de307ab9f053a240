// The pressure standards the program knows and the reflections each one shows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv {

namespace eos {
struct Params;
}
struct Structure;

// Which reflections a cell shows. RockSalt stands for every face-centred cubic cell (rock
// salt, fcc metals, Ne): h, k, l all even or all odd. Primitive: CsCl type, every h k l.
// BodyCentred: h + k + l even. Hexagonal (hcp, atoms at 1/3 2/3 1/4 and 2/3 1/3 3/4): h - k a
// multiple of 3 with l odd is absent.
enum class Lattice { RockSalt, Primitive, BodyCentred, Hexagonal };

// One standard on one scale: a material with its equation of state. The built-in
// ionic-lattice model's NaCl, KCl and CsCl have code 1-3 and no eos; every published scale
// has code 0 and its eos.
struct Standard {
    std::string_view name;  // what every output prints: "NaCl" (built-in), "Au:Fei2007", "NaCl-B2:Fei2007"
    int16_t code;           // the engine's ISTD, 0 for a published scale
    float a0;               // ambient lattice parameter, angstrom, as the window holds it (published: from V0)
    Lattice lattice;
    std::string_view material = {};    // "NaCl", "Au", "NaCl-B2"
    std::string_view scale = {};       // "built-in", "Fei2007"
    const eos::Params* eos = nullptr;  // nullptr for the built-in model
    const Structure* structure = nullptr;
    double c0 = 0;                     // ambient c of a hexagonal cell, angstrom (a0 and V0 of the scale); 0 if cubic
    double cOverA = 0;                 // its ambient c/a, exactly; 0 if cubic
    bool isDefault = false;            // what the material's name alone selects
    std::string_view reference = {};   // the paper to cite, in full
    std::string_view range = {};       // the valid range as the paper states it, or "not stated"
    std::string_view phase = {};       // the phase the scale describes and where it ends
};

// NaCl, KCl, CsCl on the built-in model, in that order: the window's and the batch's
// standards.
std::span<const Standard> Standards();
// Every (material, scale) pair, the built-in three first, then by material with its default
// scale first.
std::span<const Standard> AllStandards();

// By exact name among the built-in three, as the window matches it; nullptr when unknown.
const Standard* FindStandard(std::string_view name);
// Letter case ignored, for typed and file input: "NAME" (its default scale: "nacl" is the
// built-in NaCl, "Au" is "Au:Fei2007"), "NAME:SCALE" ("au:anderson1989", "NaCl:built-in"),
// and every printed name.
const Standard* FindStandardAnyCase(std::string_view name);
// "NaCl, KCl, CsCl", for messages.
std::string StandardNames();
// Every material with its scales, for messages: "NaCl (built-in, Matsui2012), KCl (built-in), ...".
std::string AllStandardNames();
// Whether the standard computes through a published equation of state (not the built-in model).
bool IsPublished(const Standard& standard);

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
// h^2+k^2+l^2, then falling h (CsCl's 3 0 0 before 2 2 1). Cubic standards only: empty for a
// hexagonal one, whose order by spacing depends on c/a.
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
