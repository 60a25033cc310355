// Parameter preset files (".lqk"): the whole parameter table as text, one
// section of five labels and five values per table entry.
#pragma once

#include <string>
#include <string_view>

#include "engine/catalogue.h"

namespace lq {

// The bytes of a preset file: UTF-8 with a byte-order mark, CR LF line ends,
// two comment lines, an empty line, then 200 sections "[Effect_c_i]" of
// Name1..Name5, Value1..Value5 and an empty line (2403 lines in all).
std::string FormatParameters(const ParamTable& params);

// Applies a preset file's text to the table. Tolerant: headers and entries it
// does not understand are skipped, and an entry changes only the field it names.
void ReadParameters(std::string_view bytes, ParamTable& params);

// Writes the table atomically, replacing any existing file. On failure returns
// false with the reason (shown after "Error saving parameters: ").
bool SaveParameters(const std::string& fileName, const ParamTable& params, std::string* error = nullptr);

enum class PresetLoad { Loaded, Missing, Failed };
// Missing (nothing changed) when the file does not exist; Failed with the
// reason (shown after "Error loading parameters: ") when it cannot be read.
PresetLoad LoadParameters(const std::string& fileName, ParamTable& params, std::string* error = nullptr);

}  // namespace lq
