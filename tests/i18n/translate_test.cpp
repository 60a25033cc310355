#include "i18n/translate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

#include "engine/catalogue.h"

namespace lq {
namespace {

// Every test leaves the interface in English, as the program starts.
class Translations : public ::testing::Test {
 protected:
  void TearDown() override { ApplyLanguage("en"); }
};

TEST_F(Translations, FollowTheCurrentLanguageByExactText) {
  ApplyLanguage("fr");
  EXPECT_EQ(GetCurrentLanguage(), "fr");
  EXPECT_EQ(Translate("Undo"), "Annuler");
  EXPECT_EQ(Translate("undo"), "undo");
  EXPECT_EQ(Translate("Undo "), "Undo ");
  EXPECT_EQ(Translate("      Pen && Ink"), "      Plume && Encre");
  EXPECT_EQ(Translate("Pen && Ink"), "Pen && Ink");
  EXPECT_EQ(GetEffectName(300), "Aquarelle");

  ApplyLanguage("de");
  EXPECT_EQ(Translate("Undo"), "Rückgängig");
  EXPECT_EQ(Translate("Split view on"), "Geteilte Ansicht ein");
  EXPECT_EQ(Translate("Black & White"), "Schwarzweiß");
  EXPECT_EQ(Translate("No base image loaded."), "Kein Basisbild geladen.");

  ApplyLanguage("en");
  EXPECT_EQ(TranslationCount(), 0u);
  EXPECT_EQ(Translate("Undo"), "Undo");
  EXPECT_EQ(GetEffectName(999), "Unknown Effect");
}

TEST_F(Translations, AnUnknownCodeLeavesEnglishTexts) {
  ApplyLanguage("sv");
  EXPECT_EQ(GetCurrentLanguage(), "sv");
  EXPECT_EQ(LanguageTexts("sv"), nullptr);
  EXPECT_EQ(Translate("Undo"), "Undo");
}

TEST_F(Translations, SettingTheLanguageAloneDoesNotTouchTheTable) {
  ApplyLanguage("es");
  SetCurrentLanguage("en");
  EXPECT_EQ(Translate("Undo"), "Undo");  // English never looks the table up
  SetCurrentLanguage("es");
  EXPECT_EQ(Translate("Undo"), "Deshacer");
  ClearTranslations();
  EXPECT_EQ(Translate("Undo"), "Undo");
}

TEST_F(Translations, BuildPairsTheCommonNonEmptyLines) {
  SetCurrentLanguage("xx");
  BuildTranslations({"One", "", "Three", "Four", "One", "Five"}, {"Eins", "Zwei", "", "Vier", "Uno"});
  EXPECT_EQ(TranslationCount(), 2u);
  EXPECT_EQ(Translate("One"), "Uno");  // a later duplicate key wins
  EXPECT_EQ(Translate(""), "");
  EXPECT_EQ(Translate("Three"), "Three");
  EXPECT_EQ(Translate("Four"), "Vier");
  EXPECT_EQ(Translate("Five"), "Five");  // beyond the shorter list
  BuildTranslations({"Four"}, {"Quatre"});
  EXPECT_EQ(Translate("One"), "One");  // rebuilding starts from an empty table
}

TEST(LanguageTable, FourteenLanguagesInMenuOrderEachWithItsList) {
  const auto& langs = Languages();
  std::vector<std::string> codes;
  for (const LanguageInfo& l : langs) codes.push_back(l.code);
  EXPECT_EQ(codes, (std::vector<std::string>{"zh", "de", "en", "es", "fr", "it", "ja", "ko", "nl", "pl", "pt", "ru",
                                             "tr", "uk"}));
  EXPECT_STREQ(langs[0].name, "中文");
  EXPECT_STREQ(langs[2].name, "English");
  EXPECT_STREQ(langs[13].name, "Українська");
  for (const LanguageInfo& l : langs) {
    const std::vector<std::string>* list = LanguageTexts(l.code);
    ASSERT_NE(list, nullptr) << l.code;
    EXPECT_EQ(list->size(), kTranslationLines) << l.code;
  }
}

std::vector<std::string> Placeholders(const std::string& s) {
  static const std::regex re("%[ds]");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
    out.push_back(it->str());
  return out;
}

size_t LeadingSpaces(const std::string& s) { return s.find_first_not_of(' '); }

bool HasLoneAmpersand(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') continue;
    if (i + 1 < s.size() && s[i + 1] == '&') {
      ++i;
      continue;
    }
    return true;
  }
  return false;
}

TEST(LanguageLists, EveryLineKeepsWhatTheProgramReliesOn) {
  const std::vector<std::string>& en = EnglishTexts();
  ASSERT_EQ(en.size(), kTranslationLines);
  EXPECT_EQ(en[0], "Open image");
  EXPECT_EQ(en[43], "      Pen && Ink");
  EXPECT_EQ(en[139], "         Buy me a coffee");
  EXPECT_EQ(en[194], "Error saving image \"%s\": %s");
  EXPECT_EQ(en[240], "Save image file");
  EXPECT_NE(en[208].find("lumaquill.example"), std::string::npos);
  EXPECT_NE(en[211].find("lumaquill.example"), std::string::npos);

  for (const LanguageInfo& lang : Languages()) {
    if (std::string(lang.code) == "en") continue;
    const std::vector<std::string>& t = *LanguageTexts(lang.code);
    for (size_t i = 0; i < kTranslationLines; ++i) {
      const std::string where = std::string(lang.code) + " line " + std::to_string(i) + ": \"" + t[i] + "\"";
      ASSERT_FALSE(t[i].empty()) << where;
      // Messages are formatted with these: same placeholders, same order.
      EXPECT_EQ(Placeholders(t[i]), Placeholders(en[i])) << where;
      // Group titles leave room for an icon; error prefixes are followed by the reason.
      EXPECT_EQ(LeadingSpaces(t[i]), LeadingSpaces(en[i])) << where;
      EXPECT_EQ(t[i].back() == ' ', en[i].back() == ' ') << where;
      // A caption shows "&&" as "&"; a lone "&" there would become a shortcut marker.
      if (en[i].find("&&") != std::string::npos) { EXPECT_FALSE(HasLoneAmpersand(t[i])) << where; }
      if (en[i].find("&&") == std::string::npos) { EXPECT_EQ(t[i].find("&&"), std::string::npos) << where; }
    }
    EXPECT_NE(t[43].find("&&"), std::string::npos) << lang.code;
    EXPECT_NE(t[46].find("&&"), std::string::npos) << lang.code;
    EXPECT_EQ(t[237], t[238]) << lang.code;
    EXPECT_NE(t[208].find("lumaquill.example"), std::string::npos) << lang.code;
    EXPECT_NE(t[211].find("lumaquill.example"), std::string::npos) << lang.code;
  }
}

TEST(LanguageLists, CoverEveryEffectNameAndParameterLabel) {
  const std::vector<std::string>& en = EnglishTexts();
  const std::set<std::string> keys(en.begin(), en.end());
  for (const EffectInfo& e : Catalogue()) {
    EXPECT_TRUE(keys.count(e.listName)) << e.listName;
    EXPECT_TRUE(keys.count(e.messageName)) << e.messageName;
    for (const char* label : e.labels)
      if (std::string(label) != "unused") { EXPECT_TRUE(keys.count(label)) << label; }
  }
  EXPECT_TRUE(keys.count("Brushstrokes Frame"));
  EXPECT_TRUE(keys.count("Unknown Effect"));
}

TEST_F(Translations, LookupsRaceSafelyWithALanguageSwitch) {
  std::atomic<bool> stop{false};
  std::atomic<int> odd{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string s = Translate("Undo");
      if (s != "Undo" && s != "Annuler" && s != "Rückgängig") ++odd;
    }
  });
  for (int i = 0; i < 200; ++i) ApplyLanguage(i % 2 ? "fr" : "de");
  stop = true;
  reader.join();
  EXPECT_EQ(odd, 0);
}

}  // namespace
}  // namespace lq
