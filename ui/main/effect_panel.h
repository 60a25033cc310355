// The right panel: the five parameter sliders, the preview, "Apply effect",
// the "Erase background" and "Add texture" switches and the custom-brush
// panel of the brush painting effects.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPropertyAnimation>
#include <QSlider>
#include <QWidget>
#include <array>

#include "engine/catalogue.h"

namespace lq::studio {

class MarqueeLabel;
class PreviewView;
class ToggleSwitch;
class IconButton;

// The "Apply effect" button: raised by a soft shadow that shrinks while it is
// pressed, the face moving 2 right and 2 down.
class ApplyButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit ApplyButton(const QString& text, QWidget* parent);
  QSize sizeHint() const override { return QSize(225, 44); }
  double shadowDistance() const { return shadowDistance_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  double shadowDistance_ = 4;
  double shadowOpacity_ = 1;
  bool hovered_ = false;
  bool shifted_ = false;
};

// A heading that reports hover and double-click ("PARAMETERS").
class HeadingLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void hovered();
  void doubleClicked();

 protected:
  void enterEvent(QEnterEvent*) override { emit hovered(); }
  void mouseMoveEvent(QMouseEvent*) override { emit hovered(); }
  void mouseDoubleClickEvent(QMouseEvent*) override { emit doubleClicked(); }
};

// A preset icon that fades: fully visible while hovered recently, then gone.
class FadingIcon : public QWidget {
  Q_OBJECT
  Q_PROPERTY(double opacity READ opacity WRITE setOpacity)

 public:
  FadingIcon(int iconKind, const QString& hint, QWidget* parent);
  double opacity() const { return opacity_; }
  void setOpacity(double o);
  // Shows at full opacity and stops a running fade.
  void Reveal();
  // Waits 3 s, fades to nothing over 3 s and hides.
  void StartFade();
  bool fading() const { return fade_.state() == QAbstractAnimation::Running; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  int icon_;
  double opacity_ = 0;
  QPropertyAnimation fade_;
};

class EffectPanel : public QWidget {
  Q_OBJECT

 public:
  explicit EffectPanel(QWidget* parent);

  // Shows the selected effect's labels, values and which extras it offers.
  void ShowEffect(int number, const TParameters& params);
  std::array<int, 5> SliderValues() const;
  bool AnySliderDown() const;
  QSlider* slider(int i) const { return sliders_[size_t(i)]; }
  MarqueeLabel* paramLabel(int i) const { return labels_[size_t(i)]; }
  QLabel* percentLabel(int i) const { return percents_[size_t(i)]; }
  PreviewView* preview() const { return preview_; }
  ApplyButton* applyButton() const { return apply_; }
  QAbstractButton* updatePreviewButton() const { return updatePreview_; }
  ToggleSwitch* eraseSwitch() const { return erase_; }
  ToggleSwitch* textureSwitch() const { return texture_; }
  MarqueeLabel* eraseCaption() const { return eraseCaption_; }
  MarqueeLabel* textureCaption() const { return textureCaption_; }
  QWidget* brushPanel() const { return brushPanel_; }
  QAbstractButton* loadBrushesButton() const { return loadBrushes_; }
  QAbstractButton* resetBrushesButton() const { return resetBrushes_; }
  HeadingLabel* paramsHeading() const { return paramsHeading_; }
  FadingIcon* presetLoadIcon() const { return presetLoad_; }
  FadingIcon* presetSaveIcon() const { return presetSave_; }
  std::vector<MarqueeLabel*> MarqueeLabels() const;

 signals:
  void sliderMoved(int index);      // value changed by the user or a reset
  void sliderReleased(int index);
  void applyClicked();
  void updatePreviewClicked();

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::array<MarqueeLabel*, 5> labels_{};
  std::array<QLabel*, 5> percents_{};
  std::array<QSlider*, 5> sliders_{};
  HeadingLabel* paramsHeading_;
  FadingIcon *presetLoad_, *presetSave_;
  PreviewView* preview_;
  QAbstractButton* updatePreview_;
  ApplyButton* apply_;
  ToggleSwitch *erase_, *texture_;
  MarqueeLabel *eraseCaption_, *textureCaption_;
  QWidget* brushPanel_;
  QAbstractButton *loadBrushes_, *resetBrushes_;
};

}  // namespace lq::studio
