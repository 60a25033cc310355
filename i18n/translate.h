// Interface texts are English literals passed through Translate just before display.
#pragma once

#include <string>

namespace lq {

// The text in the current interface language; the English text itself when
// there is no translation.
std::string Translate(const std::string& english);

}  // namespace lq
