// ".lqs" files: one command per line, read in whatever encoding their byte-order
// mark names (UTF-8 without one) and written back in the same encoding.
#pragma once

#include <string>
#include <vector>

#include "document/textio.h"

namespace lq {

struct TScriptFile {
  std::vector<std::string> Lines;                // UTF-8, without line breaks
  TextEncoding Encoding = TextEncoding::Utf8;    // what a save writes back
};

// False with a reason ("Cannot read script \"name\": ...") when the file
// cannot be read; `script` is then unchanged.
bool LoadScriptFile(const std::string& fileName, TScriptFile& script, std::string* error = nullptr);

// Lines ended by CR LF, in the given encoding, written atomically.
bool SaveScriptFile(const std::string& fileName, const TScriptFile& script, std::string* error = nullptr);

}  // namespace lq
