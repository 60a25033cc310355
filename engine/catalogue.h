// The effects by number: names, script identifiers, parameter labels and defaults,
// and the table of current parameter values.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace lq {

constexpr int kBrushstrokesFrame = 900;

struct EffectInfo {
  int number;
  const char* listName;     // shown in the effect lists
  const char* messageName;  // GetEffectName (messages, captions)
  const char* scriptId;     // accepted by scripts besides the number; null: number only
  std::array<const char*, 5> labels;
  std::array<int, 5> defaults;
  bool eraseBackground;  // honours "Erase background"
  bool customBrushes;    // offers the custom-brush panel
};

// Every effect with a list entry, in panel order (categories 1-4).
const std::vector<EffectInfo>& Catalogue();
const EffectInfo* FindEffect(int number);

// One parameter set: values first, then the English labels.
struct TParameters {
  int Value1 = 0, Value2 = 0, Value3 = 0, Value4 = 0, Value5 = 0;
  std::string Name1, Name2, Name3, Name4, Name5;

  int Value(int i) const;
  void SetValue(int i, int v);
  const std::string& Name(int i) const;
};

// Indexed [number div 100][number mod 100].
using ParamTable = std::array<std::array<TParameters, 20>, 10>;

void InitializeParameters(ParamTable& params);
// Null for numbers outside the table.
TParameters* ParamsFor(ParamTable& params, int number);

// Message name through Translate; "Unknown Effect" for numbers without one.
std::string GetEffectName(int number);

// The script language's effect table: 18 rows in this order.
struct ScriptEffectRow {
  int number;
  const char* listName;
  const char* scriptId;
};
const std::vector<ScriptEffectRow>& ScriptEffectTable();

// An integer gives itself; otherwise the trimmed text is matched, ignoring
// case, against each row's script id and list name. -1 when nothing matches.
int EffectIdFromScriptText(const std::string& text);
// The list name of the row, or "Effect " + number for numbers without a row.
std::string ScriptTextForNumber(int number);

// Parameters reach effects as 0..100 whatever a script or preset file held.
inline int ClampParam(long long v) { return v < 0 ? 0 : (v > 100 ? 100 : int(v)); }

}  // namespace lq
