#include "rows/standards_table.h"

#include "core/crystal.h"
#include "core/eos.h"
#include "core/scales.h"
#include "rows/csv.h"

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
    std::string out;
    std::string_view material;
    for (const Standard& s : AllStandards()) {
        if (s.material != material) {
            material = s.material;
            out += (out.empty() ? "" : "\n") + std::string(material) + " (" + StructureText(s) + ")\n";
        }
        out += "  " + std::string(s.name) + (s.isDefault ? "  (default for " + std::string(s.material) + ")" : "") +
               "\n";
        out += "    equation:  " + EquationText(s) + "\n";
        if (!s.range.empty()) out += "    range:     " + std::string(s.range) + "\n";
        if (!s.phase.empty()) out += "    phase:     " + std::string(s.phase) + "\n";
        out += "    reference: " + std::string(s.reference) + "\n";
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
