#include <gtest/gtest.h>

#include "engine/catalogue.h"

using namespace lq;

TEST(Catalogue, NamesIdsAndDefaults) {
  EXPECT_EQ(Catalogue().size(), 19u);
  EXPECT_EQ(ScriptEffectTable().size(), 18u);
  EXPECT_EQ(GetEffectName(402), "Sepia");
  EXPECT_EQ(GetEffectName(403), "Vintage / Sepia");
  EXPECT_EQ(GetEffectName(999), "Unknown Effect");
  EXPECT_EQ(GetEffectName(900), "Brushstrokes Frame");
  struct {
    const char* text;
    int number;
  } ids[] = {{"Watercolor2", 301}, {"WATERCOLOR2", 301}, {"301", 301}, {"203", 203}, {"Comic print", -1},
             {"  oil pastel ", 302}, {"Retro film", 403}, {"Vintage / Sepia", 402}, {"nope", -1}, {"-7", -7}};
  for (auto c : ids) EXPECT_EQ(EffectIdFromScriptText(c.text), c.number) << c.text;
  EXPECT_EQ(ScriptTextForNumber(200), "Black & White");
  EXPECT_EQ(ScriptTextForNumber(203), "Effect 203");
}

TEST(Catalogue, ParameterTable) {
  ParamTable t{};
  InitializeParameters(t);
  TParameters* w = ParamsFor(t, 300);
  EXPECT_EQ(w->Value1, 30);
  EXPECT_EQ(w->Value5, 20);
  EXPECT_EQ(w->Name3, "brush size");
  TParameters* st = ParamsFor(t, 201);
  EXPECT_EQ(st->Name1, "darkening");
  for (int i = 2; i <= 5; ++i) {
    EXPECT_EQ(st->Name(i), "unused");
    EXPECT_EQ(st->Value(i), 0);
  }
  EXPECT_EQ(ParamsFor(t, 306)->Name2, "iterations");
  EXPECT_TRUE(ParamsFor(t, 919)->Name1.empty());
  EXPECT_EQ(ParamsFor(t, 999), nullptr);
  EXPECT_EQ(ParamsFor(t, 1234), nullptr);
  EXPECT_EQ(ClampParam(-3), 0);
  EXPECT_EQ(ClampParam(250), 100);
}
