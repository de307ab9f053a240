#include "pattern/hints.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

namespace hv::pattern {

namespace {

bool NumberStart(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.';
}

}  // namespace

bool HeaderNamesEnergy(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(at, end - at));
        at = end + 1;
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        // The data start at the first line whose first two fields are numbers; Fit2D's point
        // count, a lone number, and its "2-Theta Angle" label are still header.
        const std::size_t gap = line.find_first_of(" \t,", first);
        const std::size_t second = gap == std::string::npos ? gap : line.find_first_not_of(" \t,", gap);
        if (NumberStart(line[first]) && second != std::string::npos && NumberStart(line[second])) break;
        if (line.find(':') != std::string::npos || line.find('=') != std::string::npos) continue;
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (line.find("kev") != std::string::npos || line.find("energy") != std::string::npos) return true;
    }
    return false;
}

bool FileHeaderNamesEnergy(const std::string& path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    std::string head(64 * 1024, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), f.get()));
    return HeaderNamesEnergy(head);
}

std::string AssumedUnitNote(const Outcome& outcome, const Options& options, bool headerNamesEnergy,
                            std::string_view sayEnergy)
{
    if (outcome.unitSource != "assumed") return {};
    const bool fixedAngle = !std::isnan(options.twoThetaFixed);
    if (!fixedAngle && !headerNamesEnergy) return {};
    std::string note = "x was taken as 2-theta in degrees, since no x unit was given";
    note += headerNamesEnergy ? ", though the file's header names energy"
                              : ", though a fixed detector angle is for energy-dispersive spectra";
    return note + "; if x is energy in keV, say " + std::string(sayEnergy);
}

}  // namespace hv::pattern
