// The left panel: the tool rows, the four collapsible effect lists and the
// "Manual brush" and "Default Image" buttons.
#pragma once

#include <QScrollArea>
#include <QWidget>
#include <vector>

#include "ui/main/icons.h"

namespace lq::studio {

class MarqueeLabel;

// A rounded row 225 x 36 with an icon and a caption; a click anywhere on it
// runs its tool.
class ToolRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 225, kHeight = 36;
  ToolRow(Icon icon, const QString& caption, QWidget* parent);
  MarqueeLabel* label() const { return label_; }
  void SetCaption(const QString& text);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  Icon icon_;
  MarqueeLabel* label_;
  bool hovered_ = false;
};

// One category: a header (icon, title, chevron) that opens and closes a list
// of effects. Items are 30 high and begin with a bullet; the selected effect's
// item shows a triangle while its list is the one last clicked.
class EffectGroup : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeaderHeight = 25, kItemHeight = 30, kWidth = 225;

  EffectGroup(int category, Icon icon, const QString& title, QWidget* parent);

  int category() const { return category_; }
  bool expanded() const { return expanded_; }
  void SetExpanded(bool on);
  // The effect numbers of the list, in order.
  const std::vector<int>& effects() const { return effects_; }
  // Item texts with their bullets, as shown.
  QString ItemText(int index) const;
  int hoveredItem() const { return hovered_; }
  // `selected` is the selected effect; the triangle shows only when it belongs
  // to this list.
  void SetSelected(int selected);
  MarqueeLabel* header() const { return header_; }
  QRect ItemRect(int index) const;
  QRect HeaderRect() const { return QRect(0, 0, width(), kHeaderHeight + 7); }
  QSize sizeHint() const override;

 signals:
  void headerClicked(int category);
  void effectClicked(int number);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  int ItemAt(QPoint p) const;

  int category_;
  Icon icon_;
  MarqueeLabel* header_;
  std::vector<int> effects_;
  bool expanded_ = false;
  int selected_ = -1;
  int hovered_ = -1;
};

class ToolsPanel : public QScrollArea {
  Q_OBJECT

 public:
  enum Tool { Crop, Resize, RotateLeft, RotateRight, AddText, AddTexture, AddFrame, ToolCount };

  explicit ToolsPanel(QWidget* parent);

  ToolRow* tool(Tool t) const { return tools_[t]; }
  EffectGroup* group(int category) const { return groups_[size_t(category - 1)]; }
  ToolRow* manualBrushButton() const { return manualBrush_; }
  ToolRow* defaultImageButton() const { return defaultImage_; }
  // Opens one group and closes the others.
  void ExpandOnly(int category);
  void SetSelectedEffect(int number);
  std::vector<MarqueeLabel*> MarqueeLabels() const;
  std::vector<MarqueeLabel*> GroupHeaders() const;

 signals:
  void toolClicked(int tool);
  void effectClicked(int number);
  void defaultImageClicked();
  void manualBrushClicked();

 private:
  QWidget* content_;
  ToolRow* tools_[ToolCount];
  std::vector<EffectGroup*> groups_;
  ToolRow* manualBrush_;
  ToolRow* defaultImage_;
};

}  // namespace lq::studio
