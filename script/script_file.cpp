#include "script/script_file.h"

#include "document/imagefile.h"

namespace lq {

bool LoadScriptFile(const std::string& fileName, TScriptFile& script, std::string* error) {
  std::string bytes, reason;
  if (!ReadWholeFile(fileName, bytes, &reason)) {
    if (error) *error = "Cannot read script \"" + fileName + "\": " + reason;
    return false;
  }
  DecodedText text = DecodeText(bytes);
  script.Lines = SplitLines(text.utf8);
  script.Encoding = text.encoding;
  return true;
}

bool SaveScriptFile(const std::string& fileName, const TScriptFile& script, std::string* error) {
  std::string text;
  for (const std::string& line : script.Lines) {
    text += line;
    text += "\r\n";
  }
  const std::string bytes = EncodeText(text, script.Encoding);
  return WriteFileAtomically(fileName, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), error);
}

}  // namespace lq
