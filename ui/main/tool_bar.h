// The tool bar under the title bar: file, clipboard and history commands on
// the left, split view, and the zoom controls at the right end.
#pragma once

#include <QLabel>
#include <QWidget>

#include "ui/main/icons.h"

namespace lq::studio {

class ToolBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 44;
  static constexpr int kButton = 30;

  explicit ToolBar(QWidget* parent);

  IconButton* menuButton() const { return menu_; }
  IconButton* openButton() const { return open_; }
  IconButton* saveButton() const { return save_; }
  IconButton* copyButton() const { return copy_; }
  IconButton* pasteButton() const { return paste_; }
  IconButton* undoButton() const { return undo_; }
  IconButton* redoButton() const { return redo_; }
  IconButton* splitButton() const { return split_; }
  IconButton* closeProgramButton() const { return closeProgram_; }
  IconButton* zoomOutButton() const { return zoomOut_; }
  IconButton* zoom100Button() const { return zoom100_; }
  IconButton* zoomInButton() const { return zoomIn_; }
  QLabel* zoomLabel() const { return zoomLabel_; }

  // Split-view button: highlighted and hinted "Split view off" while on.
  void SetSplitState(bool on);
  // Places the zoom controls from the right end; `systemMaximised` moves them
  // closer to the edge.
  void PlaceZoomControls(bool systemMaximised);

 signals:
  void zoom100RightClicked();

 protected:
  void resizeEvent(QResizeEvent*) override;
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  IconButton* Make(Icon icon, const char* hint);

  IconButton *menu_, *open_, *save_, *copy_, *paste_, *undo_, *redo_, *split_, *closeProgram_;
  IconButton *zoomOut_, *zoom100_, *zoomIn_;
  QLabel* zoomLabel_;
  std::vector<int> separators_;
  bool systemMaximised_ = false;
};

}  // namespace lq::studio
