// The translation lists compiled into the program.
#pragma once

#include <string_view>

namespace lq {

// The UTF-8 text of i18n/lang/<code>.txt, one entry per line; empty for a
// code that has no list.
std::string_view EmbeddedLanguageList(std::string_view code);

}  // namespace lq
