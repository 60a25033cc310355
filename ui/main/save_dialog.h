// The file dialogs of pictures: their filters and the save dialog set up with
// the suggested name, folder and format.
#pragma once

#include <QFileDialog>
#include <QStringList>

namespace lq::studio {

inline constexpr const char* kOpenFilter = "Image Files|*.jpg;*.jpeg;*.png;*.bmp|All Files|*.*";
inline constexpr const char* kSaveFilter = "JPEG Image|*.jpg;*.jpeg|PNG Image|*.png|WebP Image|*.webp|All Files|*.*";
inline constexpr const char* kPresetFilter = "Lumaquill Parameters (*.lqk)|*.lqk|All Files (*.*)|*.*";

// "Name|*.a;*.b|..." as Qt's name filters ("Name (*.a *.b)"); "*.*" matches
// every file, with or without an extension.
QStringList QtFilters(const char* filter);

// A non-blocking save dialog titled "Save image file": the source's folder,
// its name + "_LQ" + extension (or "Lumaquill_image.png"), the matching
// format filter, and "jpg" added to names typed without an extension.
QFileDialog* MakeSaveDialog(QWidget* parent, const QString& sourceFileName);

}  // namespace lq::studio
