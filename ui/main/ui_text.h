// Interface texts: English literals translated just before display.
#pragma once

#include <QString>

#include "i18n/translate.h"

namespace lq::studio {

inline QString Tr(const char* english) { return QString::fromStdString(Translate(english)); }
inline QString Tr(const std::string& english) { return QString::fromStdString(Translate(english)); }

// A stored caption as shown: "&&" is one ampersand; the leading spaces that
// made room for an icon are dropped because the icon is laid out beside it.
inline QString Caption(const char* english) { return Tr(english).replace("&&", "&").trimmed(); }

}  // namespace lq::studio
