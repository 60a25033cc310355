// The studio's main window: a borderless, self-drawn frame around the tool
// panels, the workspace and the effect panel, driving the effect driver.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "document/history.h"
#include "engine/catalogue.h"
#include "engine/driver.h"

class QMenu;
class QMimeData;

namespace lq::studio {

class EffectPanel;
class MarqueeLabel;
class QtUiDispatcher;
class StudioHost;
class TitleBar;
class ToolBar;
class ToolsPanel;
class WorkspaceView;

// A thin strip along one window edge that resizes the window (tags 1 top,
// 2 bottom, 3 left, 4 right).
class EdgeStrip : public QWidget {
  Q_OBJECT

 public:
  EdgeStrip(int tag, QWidget* parent);
  int tag() const { return tag_; }

 signals:
  void pressed(int tag, QPointF globalPos);
  void moved(int tag, QPointF globalPos);
  void released(int tag, QPointF globalPos);

 protected:
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  int tag_;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  struct Options {
    // The program's arguments after its own name; the first one may name a
    // picture to open.
    QStringList arguments;
    // Open the built-in photograph when no picture is named.
    bool defaultImage = false;
    // Enter the maximised state at start-up (tests keep the window small).
    bool maximise = true;
    // Longest wait for running effects when the window closes.
    int shutdownTimeoutMs = 5000;
  };

  static constexpr int kMinWidth = 1080, kMinHeight = 768;
  static constexpr int kEdgeStrip = 4;

  explicit MainWindow(const Options& options);
  ~MainWindow() override;

  // --- Files ---
  void LoadImageFile();                           // open dialog
  bool LoadLargeImage(const QString& fileName);   // a file as new source and result
  bool LoadLargeImageFromTImage();                // the built-in photograph
  void SaveImageFile();                           // save dialog
  bool SaveImageTo(const QString& fileName);
  void CopyToClipboard();
  bool PasteFromClipboard();
  // Drops: the first existing file with an accepted extension is opened.
  bool AcceptsDrop(const QMimeData* mime) const;
  bool DropFiles(const QList<QUrl>& urls);
  static bool AcceptedDropExtension(const QString& fileName);

  // --- Workspace ---
  void Undo();
  void Redo();
  bool RotateImage(bool clockwise);
  bool SwapImages();
  void ToggleSplitView();
  void SetSplitView(bool on);
  void StartCrop();
  bool ApplyCropRect(const QRect& imageRect);
  void ZoomTo100();
  void FitToWorkspace();

  // --- Effect panel ---
  void SelectEffect(int number);
  void ResetParameters();
  void ApplyEffect();
  void CancelRun();
  void StartUpdatePreviewTimer();
  void UpdatePreviewTimerTick();
  void PreviewDebounceTick();
  void CleanUpTick();
  void DrawZoomedPreview();
  void SetPreviewZoom(float zoom);
  void PreviewPressed(QPointF pos);
  void PreviewDragged(QPointF pos);
  void PreviewReleased();
  void PreviewWheel(int delta);
  void LoadCustomBrushes();                          // file dialog, then UseCustomBrushes
  bool UseCustomBrushes(const QStringList& files);
  void ResetCustomBrushes();
  void LoadParameterFile();                          // preset dialogs
  void SaveParameterFile();
  bool LoadParameters(const QString& fileName);
  bool SaveParameters(const QString& fileName);

  // --- Frame ---
  void ToggleMaximised();
  bool isCustomMaximized() const { return customMaximized_; }
  QRect restoreBounds() const { return restoreBounds_; }
  void CheckMonitor();
  void ShowMainMenu();

  // --- What the driver shows (called by the host on the GUI thread) ---
  void ShowMessage(const QString& text);
  void ShowProgress(int percent);
  void HideProgress();
  void RepaintWorkspace();
  void SetPreviewBitmap(const Image& img);
  void SetPreviewPercent(int value, bool visible);
  bool PreviewHasBitmap() const;
  bool TextureSwitchOn() const;
  void FullRunEnded(int effectNumber, int outcome);

  // --- State ---
  EffectDriver& driver() { return *driver_; }
  TImageHistory& history() { return *history_; }
  QtUiDispatcher& dispatcher() { return *dispatcher_; }
  ParamTable& params() { return params_; }
  int selectedEffect() const { return selectedEffect_; }
  QString sourceFileName() const { return sourceFileName_; }
  float previewZoom() const;
  int previewLaunches() const { return previewLaunches_; }
  int effectPreviewDraws() const { return effectPreviewDraws_; }
  int fullRunsEnded() const { return fullRunsEnded_; }
  QTimer& updatePreviewTimer() { return updatePreviewTimer_; }
  QTimer& previewDebounceTimer() { return previewDebounceTimer_; }
  TitleBar* titleBar() const { return titleBar_; }
  ToolBar* toolBar() const { return toolBar_; }
  ToolsPanel* toolsPanel() const { return toolsPanel_; }
  WorkspaceView* workspace() const { return workspace_; }
  EffectPanel* effectPanel() const { return effectPanel_; }
  QMenu* mainMenu() const { return menu_; }
  QColor bodyFill() const { return bodyFill_; }
  // False when effects were still running after the shutdown wait: they were
  // left running on state kept alive for them, and the process should end
  // without running static destructors.
  bool shutdownClean() const { return shutdownClean_; }
  bool closing() const { return closing_; }
  // The start-up steps that follow the first show have run.
  bool initialized() const { return initialized_; }

 signals:
  void previewLaunched();
  void fullRunFinished(int effectNumber, int outcome);
  void imageChanged();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void showEvent(QShowEvent*) override;
  void closeEvent(QCloseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  void BuildUi();
  void BuildMenu();
  void ConnectSignals();
  void InitializationTick();
  void Shutdown();
  void SetImagesAfterLoad(const Image& img, const QString& fileName);
  void RecordAndShow();
  void SyncWorkspace();
  void SetBodyFill(unsigned argb);
  void PlaceEdgeStrips();
  void SetEdgeStripsVisible(bool on);
  void MoveWinTimerTick();
  void Timer1Tick();
  void TitlePressed(QMouseEvent* e);
  void TitleReleased(QMouseEvent* e);
  void EdgePressed(int tag, QPointF globalPos);
  void EdgeMoved(int tag, QPointF globalPos);
  void EdgeReleased(int tag, QPointF globalPos);
  QRect EdgeBounds(int tag, QPointF globalPos) const;
  std::vector<MarqueeLabel*> UiLabels() const;
  void SetupUILabelMarquee();
  void TeardownUILabelMarquee();
  void SetupExpanderMarquee();
  void TeardownExpanderMarquee();
  bool BlockedByFullRun() const;

  Options options_;
  // Kept on the heap: when effects outlive the shutdown wait, these stay alive
  // for them after the window is gone.
  std::unique_ptr<QtUiDispatcher> dispatcher_;
  std::unique_ptr<StudioHost> host_;
  std::unique_ptr<TImageHistory> history_;
  std::unique_ptr<EffectDriver> driver_;

  ParamTable params_{};
  int selectedEffect_ = 300;
  QString sourceFileName_;

  TitleBar* titleBar_ = nullptr;
  ToolBar* toolBar_ = nullptr;
  ToolsPanel* toolsPanel_ = nullptr;
  WorkspaceView* workspace_ = nullptr;
  EffectPanel* effectPanel_ = nullptr;
  QMenu* menu_ = nullptr;
  EdgeStrip* edges_[4] = {};

  // Preview timing.
  QTimer updatePreviewTimer_;     // 500 ms settle after parameter changes
  QTimer previewDebounceTimer_;   // 1 s after panning or zooming the preview
  QTimer cleanUpTimer_;           // 2 s housekeeping
  QElapsedTimer lastPanTime_;
  QPointF previewLastPos_;
  int presetCountdown_ = 0;
  int previewLaunches_ = 0;
  int effectPreviewDraws_ = 0;
  int fullRunsEnded_ = 0;

  // Frame.
  QTimer initializationTimer_;
  QTimer moveWinTimer_;
  QTimer timer1_;
  QTimer monitorCheckTimer_;
  bool customMaximized_ = false;
  QRect restoreBounds_;
  QRect normalBounds_;
  int lastMonitorIndex_ = -1;
  QRect lastBounds_;
  bool formResizing_ = false;
  bool systemResize_ = false;
  int resizeTag_ = 0;
  QPointF startPoint_;
  QRect startBounds_;
  bool manualMove_ = false;
  QPointF moveGrab_;
  QColor bodyFill_;
  bool shown_ = false;
  bool initialized_ = false;
  bool closing_ = false;
  bool shutdownClean_ = true;
};

}  // namespace lq::studio
