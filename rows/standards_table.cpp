#include "rows/standards_table.h"

#include "core/crystal.h"
#include "core/eos.h"
#include "core/scales.h"
#include "rows/csv.h"

#include <algorithm>
#include <vector>

namespace hv::rows {

std::string StructureText(const Standard& standard)
{
    std::string out = standard.structure ? std::string(standard.structure->name) : std::string();
    if (standard.eos) {
        out += (out.empty() ? "" : ", ") + std::string("Z ") + std::to_string(standard.eos->z) + ", n " +
               std::to_string(standard.eos->n);
    }
    return out;
}

std::string EquationText(const Standard& standard)
{
    return standard.eos ? DescribeEos(*standard.eos) : std::string(kBuiltInModel);
}

std::string StandardsListing()
{
    // One block per material in order of first appearance: the built-in model's NaCl comes
    // first in the table, its published scale later, and both belong under NaCl.
    std::vector<std::string_view> materials;
    for (const Standard& s : AllStandards()) {
        if (std::find(materials.begin(), materials.end(), s.material) == materials.end()) materials.push_back(s.material);
    }
    std::string out;
    for (const std::string_view material : materials) {
        std::string structure, scales;
        for (const Standard& s : AllStandards()) {
            if (s.material != material) continue;
            // Z and n come with a published scale's equation: the fullest description wins.
            const std::string text = StructureText(s);
            if (text.size() > structure.size()) structure = text;
            scales += "  " + std::string(s.name) + (s.isDefault ? "  (default for " + std::string(material) + ")" : "") +
                      "\n";
            scales += "    equation:  " + EquationText(s) + "\n";
            if (!s.range.empty()) scales += "    range:     " + std::string(s.range) + "\n";
            if (!s.phase.empty()) scales += "    phase:     " + std::string(s.phase) + "\n";
            scales += "    reference: " + std::string(s.reference) + "\n";
        }
        out += (out.empty() ? "" : "\n") + std::string(material) + " (" + structure + ")\n" + scales;
    }
    return out;
}

std::string StandardsCsv()
{
    std::string out = std::string(kStandardsHeader) + '\n';
    for (const Standard& s : AllStandards()) {
        for (const std::string_view field : {s.name, s.material, s.scale}) {
            AppendField(out, field);
            out += ',';
        }
        out += s.isDefault ? "1," : "0,";
        for (const std::string& field : {StructureText(s), EquationText(s), std::string(s.range), std::string(s.phase)}) {
            AppendField(out, field);
            out += ',';
        }
        AppendField(out, s.reference);
        out += '\n';
    }
    return out;
}

}  // namespace hv::rows
