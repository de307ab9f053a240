// Notes for a pattern's row when the program had to assume something the user may not have
// meant. Every face that prints a row can call these, so that all of them say the same.
#pragma once

#include "pattern/pattern.h"

#include <string>
#include <string_view>

namespace hv::pattern {

// Whether the header of a pattern's text (the lines before its first row of numbers) names
// energy as a column: a line that mentions "keV" or "energy" and is no "key: value" comment
// (so "# Energy (keV) counts" counts, "# Energy: 30 keV" of an angle-dispersive beam does not).
bool HeaderNamesEnergy(std::string_view text);
// The same for a file, from at most its first 64 KiB; false when it cannot be read.
bool FileHeaderNamesEnergy(const std::string& path);

// When x was assumed to be 2-theta (outcome.unitSource "assumed") although the input looks
// energy-dispersive (a fixed detector angle was given, or the header names energy): says so
// and how to say otherwise, with sayEnergy the face's spelling ("--x-unit kev"). Empty when
// there is nothing to say.
std::string AssumedUnitNote(const Outcome& outcome, const Options& options, bool headerNamesEnergy,
                            std::string_view sayEnergy = "--x-unit kev");

}  // namespace hv::pattern
