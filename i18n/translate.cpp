#include "i18n/translate.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <unordered_map>

#include "i18n/lang_data.h"

namespace lq {

namespace {

// Effects translate their names on worker threads while the interface may be
// switching language, so the table and the code are guarded.
struct State {
  std::shared_mutex mutex;
  std::unordered_map<std::string, std::string> table;
  std::string language = "en";
};

State& Shared() {
  static State s;
  return s;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string Translate(const std::string& english) {
  State& s = Shared();
  std::shared_lock lock(s.mutex);
  if (s.language == "en") return english;
  auto it = s.table.find(english);
  return it == s.table.end() ? english : it->second;
}

void ClearTranslations() {
  State& s = Shared();
  std::unique_lock lock(s.mutex);
  s.table.clear();
}

void BuildTranslations(const std::vector<std::string>& english, const std::vector<std::string>& target) {
  std::unordered_map<std::string, std::string> table;
  const size_t n = std::min(english.size(), target.size());
  for (size_t i = 0; i < n; ++i)
    if (!english[i].empty() && !target[i].empty()) table[english[i]] = target[i];
  State& s = Shared();
  std::unique_lock lock(s.mutex);
  s.table = std::move(table);
}

size_t TranslationCount() {
  State& s = Shared();
  std::shared_lock lock(s.mutex);
  return s.table.size();
}

std::string GetCurrentLanguage() {
  State& s = Shared();
  std::shared_lock lock(s.mutex);
  return s.language;
}

void SetCurrentLanguage(const std::string& code) {
  State& s = Shared();
  std::unique_lock lock(s.mutex);
  s.language = code;
}

const std::array<LanguageInfo, 14>& Languages() {
  static const std::array<LanguageInfo, 14> kLanguages = {{
      {"中文", "zh"},
      {"Deutsch", "de"},
      {"English", "en"},
      {"Español", "es"},
      {"Français", "fr"},
      {"Italiano", "it"},
      {"日本語", "ja"},
      {"한국어", "ko"},
      {"Nederlands", "nl"},
      {"Polski", "pl"},
      {"Português", "pt"},
      {"Русский", "ru"},
      {"Türkçe", "tr"},
      {"Українська", "uk"},
  }};
  return kLanguages;
}

const std::vector<std::string>& EnglishTexts() { return *LanguageTexts("en"); }

const std::vector<std::string>* LanguageTexts(const std::string& code) {
  // Split once, on first use; the lists never change while the program runs.
  static const std::map<std::string, std::vector<std::string>> kLists = [] {
    std::map<std::string, std::vector<std::string>> lists;
    for (const LanguageInfo& lang : Languages()) lists[lang.code] = SplitList(EmbeddedLanguageList(lang.code));
    return lists;
  }();
  auto it = kLists.find(code);
  return it == kLists.end() ? nullptr : &it->second;
}

void ApplyLanguage(const std::string& code) {
  ClearTranslations();
  SetCurrentLanguage(code);
  if (code == "en") return;
  if (const std::vector<std::string>* list = LanguageTexts(code)) BuildTranslations(EnglishTexts(), *list);
}

}  // namespace lq
