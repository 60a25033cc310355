// Colours and type of the studio's window.
#pragma once

#include <QColor>
#include <QFont>

namespace lq::studio::theme {

inline QColor Argb(unsigned int argb) { return QColor::fromRgba(argb); }

// Window body and frame.
constexpr unsigned kFormFill = 0xAA1F2937;
constexpr unsigned kBody = 0xF0314158;
constexpr unsigned kBodyMoving = 0x80B0C0D6;
constexpr double kBodyRadius = 15;

// Panels, rows and text.
constexpr unsigned kPanel = 0xFF111827;
constexpr unsigned kWorkspace = 0xFF1F2937;
constexpr unsigned kRow = 0xFF314158;
constexpr unsigned kRowHover = 0xFF3E5170;
constexpr unsigned kText = 0xFFD5D5D5;
constexpr unsigned kTextHover = 0xFFFFFFFF;
constexpr unsigned kTextDim = 0xFF8A94A6;
constexpr unsigned kAccent = 0xFF3B82F6;
constexpr unsigned kAccentPressed = 0xFF2563EB;

// Title-bar buttons.
constexpr unsigned kTitleButtonRest = 0x01FF0303;
constexpr unsigned kTitleButtonHover = 0xFF7E7D83;
constexpr unsigned kCloseHover = 0xFFFF0303;
constexpr unsigned kCloseProgramHover = 0xFFFF0000;

// Switches.
constexpr unsigned kSwitchOn = 0xFF29374A;
constexpr unsigned kSwitchOff = 0xAF29376A;
constexpr unsigned kThumbOn = 0xFFFFFFFF;
constexpr unsigned kThumbOff = 0xFF808080;

// Drop zone border, at rest and hovered.
constexpr unsigned kDropBorder = 0xFF4B5563;
constexpr unsigned kDropBorderHover = 0xFF999999;

// The user-interface font: Inter when it ships beside the program, else the
// system sans-serif. `pixels` is the size in display units.
QFont UiFont(int pixels, int weight = QFont::Normal);
// Installs Inter from the program's folder when present; returns the family used.
QString InstallUiFont(const QString& programDir);

}  // namespace lq::studio::theme

namespace lq::studio::theme {
// The application's style for dialogs and message boxes: Fusion in the
// window's dark colours, and the user-interface font.
void ApplyApplicationStyle();
}  // namespace lq::studio::theme
