// Interface texts are English literals passed through Translate just before
// display. A table pairs each English text with its translation, exactly
// (case, spaces and "&&" included).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace lq {

// The text in the current interface language; the English text itself when
// the language is English or the table has no translation for it.
std::string Translate(const std::string& english);

// Empties the table.
void ClearTranslations();
// Empties the table, then pairs line i of both lists for every i both have,
// skipping pairs where either side is empty. A later duplicate key wins.
void BuildTranslations(const std::vector<std::string>& english, const std::vector<std::string>& target);
// Number of entries in the table.
size_t TranslationCount();

// Two-letter code, "en" at start. Setting it does not touch the table.
std::string GetCurrentLanguage();
void SetCurrentLanguage(const std::string& code);

struct LanguageInfo {
  const char* name;  // native name, as the language menu shows it
  const char* code;
};
// The 14 interface languages in menu order.
const std::array<LanguageInfo, 14>& Languages();

// Number of entries in every text list.
constexpr size_t kTranslationLines = 241;

// The English list: the keys of the table.
const std::vector<std::string>& EnglishTexts();
// The text list of a language code from the table above (the English list
// for "en"); null for any other code.
const std::vector<std::string>* LanguageTexts(const std::string& code);

// Clears the table, makes `code` current and, unless it is English, fills the
// table from its list. An unknown code leaves every text in English.
void ApplyLanguage(const std::string& code);

}  // namespace lq
