// Start-up, the window frame, the keyboard and menu, and shutdown.
#include "ui/main/main_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWindow>

#include "engine/random.h"
#include "ui/main/effect_panel.h"
#include "ui/main/marquee_label.h"
#include "ui/main/preview_view.h"
#include "ui/main/qt_dispatcher.h"
#include "ui/main/studio_host.h"
#include "diag/log.h"
#include "ui/main/theme.h"
#include "ui/main/title_bar.h"
#include "ui/main/toggle_switch.h"
#include "ui/main/tool_bar.h"
#include "ui/main/tools_panel.h"
#include "ui/main/ui_text.h"
#include "ui/main/workspace_view.h"

namespace lq::studio {

using lq::Log;

// --- EdgeStrip ---

EdgeStrip::EdgeStrip(int tag, QWidget* parent) : QWidget(parent), tag_(tag) {
  setCursor(tag <= 2 ? Qt::SizeVerCursor : Qt::SizeHorCursor);
}

void EdgeStrip::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) emit pressed(tag_, e->globalPosition());
}

void EdgeStrip::mouseMoveEvent(QMouseEvent* e) {
  if (e->buttons() & Qt::LeftButton) emit moved(tag_, e->globalPosition());
}

void EdgeStrip::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) emit released(tag_, e->globalPosition());
}

// --- Start-up ---

MainWindow::MainWindow(const Options& options) : QWidget(nullptr), options_(options) {
  Log(">>> FormCreate begin");
  dispatcher_ = std::make_unique<QtUiDispatcher>();
  host_ = std::make_unique<StudioHost>(*dispatcher_);
  host_->window = this;
  history_ = std::make_unique<TImageHistory>();
  driver_ = std::make_unique<EffectDriver>(*host_);
  driver_->FHistory = history_.get();
  SetDriver(driver_.get());

  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowTitle("Lumaquill 4.20");
  setMinimumSize(kMinWidth, kMinHeight);
  setFocusPolicy(Qt::StrongFocus);
  bodyFill_ = theme::Argb(theme::kBody);

  Log("  FormCreate: initial values");
  driver_->FCurrentEffectNumber = -1;
  driver_->FPreviewZoomFactor = 1;
  driver_->FPreviewGeneration = 0;
  driver_->FEraseBdChecked = true;
  driver_->ProgressPercent = 0;
  driver_->Cancel = false;
  driver_->StoredTextureStrength = 50;
  driver_->StoredTextureScale = 1;

  Log("  FormCreate: window size");
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    QRect work = s->availableGeometry();
    int w = std::max(int(Round(s->geometry().width() * 0.98)), kMinWidth);
    int h = std::max(int(Round(s->geometry().height() * 0.98)), kMinHeight);
    setGeometry(work.left() + (work.width() - w) / 2, work.top() + (work.height() - h) / 2, w, h);
  }

  BuildUi();
  BuildMenu();
  ConnectSignals();

  monitorCheckTimer_.setInterval(500);
  connect(&monitorCheckTimer_, &QTimer::timeout, this, &MainWindow::CheckMonitor);
  monitorCheckTimer_.start();
  timer1_.setInterval(100);
  connect(&timer1_, &QTimer::timeout, this, &MainWindow::Timer1Tick);
  timer1_.start();
  moveWinTimer_.setInterval(200);
  moveWinTimer_.setSingleShot(true);
  connect(&moveWinTimer_, &QTimer::timeout, this, &MainWindow::MoveWinTimerTick);
  initializationTimer_.setInterval(10);
  initializationTimer_.setSingleShot(true);
  connect(&initializationTimer_, &QTimer::timeout, this, &MainWindow::InitializationTick);
  updatePreviewTimer_.setInterval(500);
  connect(&updatePreviewTimer_, &QTimer::timeout, this, &MainWindow::UpdatePreviewTimerTick);
  previewDebounceTimer_.setInterval(1000);
  connect(&previewDebounceTimer_, &QTimer::timeout, this, &MainWindow::PreviewDebounceTick);
  cleanUpTimer_.setInterval(2000);
  connect(&cleanUpTimer_, &QTimer::timeout, this, &MainWindow::CleanUpTick);
  cleanUpTimer_.start();
  lastPanTime_.start();

  Log("  FormCreate: select Watercolor");
  InitializeParameters(params_);
  SelectEffect(300);
  Log("<<< FormCreate done");
}

MainWindow::~MainWindow() {
  if (!closing_) {
    closing_ = true;
    Shutdown();
  }
  host_->window = nullptr;
  if (!shutdownClean_) {
    // Effects still run on these; they end on their own and the process exits
    // without tearing them down.
    (void)driver_.release();
    (void)history_.release();
    (void)host_.release();
    (void)dispatcher_.release();
    return;
  }
  if (DriverIfAny() == driver_.get()) SetDriver(nullptr);
  driver_.reset();
}

void MainWindow::BuildUi() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  titleBar_ = new TitleBar(this);
  root->addWidget(titleBar_);
  toolBar_ = new ToolBar(this);
  auto* barRow = new QHBoxLayout();
  barRow->setContentsMargins(5, 0, 5, 0);
  barRow->addWidget(toolBar_);
  root->addLayout(barRow);

  auto* content = new QHBoxLayout();
  content->setContentsMargins(8, 6, 8, 8);
  content->setSpacing(8);

  auto* left = new QWidget(this);
  left->setObjectName("leftPanel");
  left->setAttribute(Qt::WA_StyledBackground);
  left->setStyleSheet(QString("#leftPanel { background: %1; border-radius: 15px; }")
                          .arg(theme::Argb(theme::kPanel).name()));
  auto* lv = new QVBoxLayout(left);
  lv->setContentsMargins(0, 0, 0, 6);
  toolsPanel_ = new ToolsPanel(left);
  lv->addWidget(toolsPanel_);
  content->addWidget(left);

  workspace_ = new WorkspaceView(this);
  content->addWidget(workspace_, 1);

  auto* rightScroll = new QScrollArea(this);
  rightScroll->setFrameShape(QFrame::NoFrame);
  rightScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  rightScroll->setWidgetResizable(true);
  rightScroll->setStyleSheet(
      "QScrollArea { background: transparent; }"
      "QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
      "QScrollBar::handle:vertical { background: #4B5563; border-radius: 3px; min-height: 30px; }"
      "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: none; }");
  rightScroll->viewport()->setAutoFillBackground(false);
  effectPanel_ = new EffectPanel(rightScroll);
  rightScroll->setWidget(effectPanel_);
  rightScroll->setFixedWidth(effectPanel_->width() + 6);
  content->addWidget(rightScroll);
  root->addLayout(content, 1);

  for (int tag = 1; tag <= 4; ++tag) {
    edges_[tag - 1] = new EdgeStrip(tag, this);
    connect(edges_[tag - 1], &EdgeStrip::pressed, this, &MainWindow::EdgePressed);
    connect(edges_[tag - 1], &EdgeStrip::moved, this, &MainWindow::EdgeMoved);
    connect(edges_[tag - 1], &EdgeStrip::released, this, &MainWindow::EdgeReleased);
  }
  PlaceEdgeStrips();
}

void MainWindow::BuildMenu() {
  menu_ = new QMenu(this);
  menu_->setStyleSheet(QString("QMenu { background: %1; border: 1px solid #374151; padding: 6px;"
                               " color: %2; font-size: 14px; }"
                               "QMenu::item { padding: 6px 28px 6px 14px; border-radius: 6px; }"
                               "QMenu::item:selected { background: %3; color: white; }"
                               "QMenu::item:disabled { color: #8A94A6; font-weight: bold; }"
                               "QMenu::separator { height: 1px; background: #374151; margin: 5px 8px; }")
                           .arg(theme::Argb(theme::kPanel).name(), theme::Argb(theme::kText).name(),
                                theme::Argb(theme::kRow).name()));
  menu_->setFont(theme::UiFont(14));
  auto heading = [this](const char* text) {
    QAction* a = menu_->addAction(Tr(text));
    a->setEnabled(false);
  };
  auto item = [this](const char* text, const char* keys, auto fn) {
    QAction* a = menu_->addAction(Tr(text) + "\t" + keys);
    connect(a, &QAction::triggered, this, fn);
  };
  heading("FILE");
  item("Open", "CTRL+O", [this] { LoadImageFile(); });
  item("Save", "CTRL+S", [this] { SaveImageFile(); });
  item("Quit", "CTRL+Q", [this] { close(); });
  menu_->addSeparator();
  heading("EDIT");
  item("Undo", "CTRL+Z", [this] { Undo(); });
  item("Redo", "CTRL+SHIFT+Z", [this] { Redo(); });
  item("Copy to clipboard", "CTRL+C", [this] { CopyToClipboard(); });
  item("Paste from clipboard", "CTRL+V", [this] { PasteFromClipboard(); });
  item("View source image", "S", [this] { ToggleSplitView(); });
  item("Swap Source/Result", "F12", [this] { SwapImages(); });
  item("Zoom in", "+", [this] { workspace_->ZoomIn(); });
  item("Zoom out", "-", [this] { workspace_->ZoomOut(); });
  item("100% zoom", "CTRL+0", [this] { ZoomTo100(); });
}

void MainWindow::ConnectSignals() {
  connect(titleBar_->minButton(), &QAbstractButton::clicked, this, [this] { showMinimized(); });
  connect(titleBar_->maxButton(), &QAbstractButton::clicked, this, &MainWindow::ToggleMaximised);
  connect(titleBar_->closeButton(), &QAbstractButton::clicked, this, &QWidget::close);
  connect(titleBar_, &TitleBar::pressed, this, &MainWindow::TitlePressed);
  connect(titleBar_, &TitleBar::released, this, &MainWindow::TitleReleased);
  connect(titleBar_, &TitleBar::moved, this, [this](QMouseEvent* e) {
    if (manualMove_ && (e->buttons() & Qt::LeftButton)) move((e->globalPosition() - moveGrab_).toPoint());
  });
  connect(titleBar_, &TitleBar::doubleClicked, this, [this] {
    moveWinTimer_.stop();
    ToggleMaximised();
  });

  ToolBar* tb = toolBar_;
  connect(tb->menuButton(), &QAbstractButton::clicked, this, &MainWindow::ShowMainMenu);
  connect(tb->openButton(), &QAbstractButton::clicked, this, &MainWindow::LoadImageFile);
  connect(tb->saveButton(), &QAbstractButton::clicked, this, &MainWindow::SaveImageFile);
  connect(tb->copyButton(), &QAbstractButton::clicked, this, &MainWindow::CopyToClipboard);
  connect(tb->pasteButton(), &QAbstractButton::clicked, this, [this] { PasteFromClipboard(); });
  connect(tb->undoButton(), &QAbstractButton::clicked, this, &MainWindow::Undo);
  connect(tb->redoButton(), &QAbstractButton::clicked, this, &MainWindow::Redo);
  connect(tb->splitButton(), &QAbstractButton::clicked, this, &MainWindow::ToggleSplitView);
  connect(tb->closeProgramButton(), &QAbstractButton::clicked, this, &QWidget::close);
  connect(tb->zoomOutButton(), &QAbstractButton::clicked, workspace_, &WorkspaceView::ZoomOut);
  connect(tb->zoomInButton(), &QAbstractButton::clicked, workspace_, &WorkspaceView::ZoomIn);
  connect(tb->zoom100Button(), &QAbstractButton::clicked, this, [this] {
    if (workspace_->HasImage()) workspace_->FullSizeAndCenter();
  });
  connect(tb, &ToolBar::zoom100RightClicked, this, &MainWindow::FitToWorkspace);
  connect(workspace_, &WorkspaceView::zoomChanged, this,
          [this](float z) { toolBar_->zoomLabel()->setText(ZoomText(z)); });

  connect(toolsPanel_, &ToolsPanel::toolClicked, this, [this](int tool) {
    switch (tool) {
      case ToolsPanel::Crop: StartCrop(); break;
      case ToolsPanel::RotateLeft: RotateImage(false); break;
      case ToolsPanel::RotateRight: RotateImage(true); break;
      default: break;
    }
  });
  // Tools that arrive with the side panels are shown but not offered yet.
  for (int t : {ToolsPanel::Resize, ToolsPanel::AddText, ToolsPanel::AddTexture, ToolsPanel::AddFrame})
    toolsPanel_->tool(ToolsPanel::Tool(t))->setEnabled(false);
  toolsPanel_->manualBrushButton()->setEnabled(false);
  connect(toolsPanel_, &ToolsPanel::effectClicked, this, &MainWindow::SelectEffect);
  connect(toolsPanel_, &ToolsPanel::defaultImageClicked, this, [this] { LoadLargeImageFromTImage(); });

  EffectPanel* ep = effectPanel_;
  connect(ep, &EffectPanel::sliderMoved, this, [this](int) { StartUpdatePreviewTimer(); });
  connect(ep, &EffectPanel::sliderReleased, this, [this](int) {
    // Launch at once rather than at the timer's next beat: the preview then
    // follows the release within the time the effect itself needs.
    if (updatePreviewTimer_.isActive()) UpdatePreviewTimerTick();
  });
  connect(ep, &EffectPanel::applyClicked, this, &MainWindow::ApplyEffect);
  connect(ep, &EffectPanel::updatePreviewClicked, this, [this] {
    updatePreviewTimer_.stop();
    if (!driver_->VIrSourceImage) return;
    auto v = effectPanel_->SliderValues();
    driver_->ProcessEffect(selectedEffect_, v[0], v[1], v[2], v[3], v[4], true);
  });
  connect(ep->paramsHeading(), &HeadingLabel::doubleClicked, this, &MainWindow::ResetParameters);
  connect(ep->paramsHeading(), &HeadingLabel::hovered, this, [this] {
    presetCountdown_ = 2;
    effectPanel_->presetLoadIcon()->Reveal();
    effectPanel_->presetSaveIcon()->Reveal();
  });
  connect(ep->presetLoadIcon(), &FadingIcon::clicked, this, &MainWindow::LoadParameterFile);
  connect(ep->presetSaveIcon(), &FadingIcon::clicked, this, &MainWindow::SaveParameterFile);
  connect(ep->eraseSwitch(), &ToggleSwitch::toggled, this, [this](bool on) { driver_->FEraseBdChecked = on; });
  connect(ep->textureSwitch(), &ToggleSwitch::toggled, this, [this](bool) { StartUpdatePreviewTimer(); });
  connect(ep->loadBrushesButton(), &QAbstractButton::clicked, this, &MainWindow::LoadCustomBrushes);
  connect(ep->resetBrushesButton(), &QAbstractButton::clicked, this, &MainWindow::ResetCustomBrushes);

  PreviewView* pv = ep->preview();
  connect(pv, &PreviewView::pressed, this, &MainWindow::PreviewPressed);
  connect(pv, &PreviewView::dragged, this, &MainWindow::PreviewDragged);
  connect(pv, &PreviewView::released, this, &MainWindow::PreviewReleased);
  connect(pv, &PreviewView::wheeled, this, &MainWindow::PreviewWheel);
  PreviewZoomStrip* strip = pv->zoomStrip();
  connect(strip, &PreviewZoomStrip::zoomInClicked, this,
          [this] { SetPreviewZoom(PreviewIconZoom(driver_->FPreviewZoomFactor, true)); });
  connect(strip, &PreviewZoomStrip::zoomOutClicked, this,
          [this] { SetPreviewZoom(PreviewIconZoom(driver_->FPreviewZoomFactor, false)); });
  connect(strip, &PreviewZoomStrip::resetClicked, this, [this] { SetPreviewZoom(1); });
  connect(strip, &PreviewZoomStrip::entered, this,
          [this] { effectPanel_->preview()->zoomStrip()->SetZoomText(ZoomText(driver_->FPreviewZoomFactor)); });

  workspace_->acceptDrop = [this](const QMimeData* m) { return AcceptsDrop(m); };
  workspace_->onDrop = [this](const QMimeData* m) { DropFiles(m->urls()); };
  connect(workspace_->dropZone(), &DropZone::browseClicked, this, &MainWindow::LoadImageFile);
  connect(workspace_, &WorkspaceView::cropRequested, this, &MainWindow::ApplyCropRect);
}

void MainWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (shown_) return;
  shown_ = true;
  Log(">>> FormShow begin");
  initializationTimer_.start();
  if (QWindow* w = windowHandle())
    connect(w, &QWindow::screenChanged, this, [this](QScreen*) { CheckMonitor(); });
  const QStringList& args = options_.arguments;
  if (!args.isEmpty() && !args.first().startsWith("-psn") && QFileInfo(args.first()).isFile())
    LoadLargeImage(args.first());
  else if (options_.defaultImage)
    LoadLargeImageFromTImage();
  Log("<<< FormShow done");
}

void MainWindow::InitializationTick() {
  Log(">>> InitializationTimerTimer begin");
  InitializeParameters(params_);
  SelectEffect(300);
  driver_->GlobalBrushCount = 40;
  SetupUILabelMarquee();
  SetupExpanderMarquee();
  if (options_.maximise && !customMaximized_) ToggleMaximised();
  toolsPanel_->ExpandOnly(3);
  initialized_ = true;
  Log("<<< InitializationTimerTimer done");
}

// --- Frame ---

void MainWindow::SetBodyFill(unsigned argb) {
  QColor c = theme::Argb(argb);
  if (c == bodyFill_) return;
  bodyFill_ = c;
  update();
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(rect(), Qt::transparent);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setPen(Qt::NoPen);
  p.setBrush(bodyFill_);
  p.drawRoundedRect(QRectF(rect()), theme::kBodyRadius, theme::kBodyRadius);
}

void MainWindow::PlaceEdgeStrips() {
  const int t = kEdgeStrip;
  if (!edges_[0]) return;
  edges_[0]->setGeometry(15, 0, width() - 30, t);
  edges_[1]->setGeometry(15, height() - t, width() - 30, t);
  edges_[2]->setGeometry(0, 15, t, height() - 30);
  edges_[3]->setGeometry(width() - t, 15, t, height() - 30);
  for (EdgeStrip* s : edges_) s->raise();
}

void MainWindow::SetEdgeStripsVisible(bool on) {
  for (EdgeStrip* s : edges_) s->setVisible(on);
}

void MainWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  PlaceEdgeStrips();
  toolBar_->PlaceZoomControls(windowState() & Qt::WindowMaximized);
}

void MainWindow::changeEvent(QEvent* e) {
  if (e->type() == QEvent::WindowStateChange) {
    // A maximise by the window manager needs no resize handles.
    if (windowState() & Qt::WindowMaximized) SetEdgeStripsVisible(false);
    toolBar_->PlaceZoomControls(windowState() & Qt::WindowMaximized);
  }
  QWidget::changeEvent(e);
}

void MainWindow::ToggleMaximised() {
  QScreen* s = screen();
  if (!s) return;
  QRect work = s->availableGeometry();
  if (customMaximized_) {
    customMaximized_ = false;
    if (restoreBounds_.width() > 100 && restoreBounds_.height() > 100)
      setGeometry(restoreBounds_);
    else
      setGeometry(work.adjusted(50, 50, -50, -50));
    SetEdgeStripsVisible(true);
  } else {
    restoreBounds_ = geometry();
    customMaximized_ = true;
    SetEdgeStripsVisible(false);
    setGeometry(work);
  }
  titleBar_->SetMaximised(customMaximized_);
  SetBodyFill(theme::kBody);
}

void MainWindow::CheckMonitor() {
  if (closing_) return;
  QScreen* s = screen();
  if (!s) return;
  int idx = int(QGuiApplication::screens().indexOf(s));
  QRect work = s->availableGeometry();
  if (lastMonitorIndex_ == -1) {
    lastMonitorIndex_ = idx;
    return;
  }
  bool changed = idx != lastMonitorIndex_;
  if (customMaximized_) {
    if (changed || width() != work.width() || height() != work.height()) {
      setGeometry(work);
      lastMonitorIndex_ = idx;
    }
    return;
  }
  if (windowState() == Qt::WindowNoState && width() < 0.99 * work.width() && height() < 0.99 * work.height())
    normalBounds_ = geometry();
  if (changed) {
    if (width() > work.width() || height() > work.height()) {
      int w = int(Round(work.width() * 0.98)), h = int(Round(work.height() * 0.98));
      setGeometry(work.left() + (work.width() - w) / 2, work.top() + (work.height() - h) / 2, w, h);
    }
    lastMonitorIndex_ = idx;
  }
}

void MainWindow::TitlePressed(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || (windowState() & Qt::WindowMaximized)) return;
  moveGrab_ = e->globalPosition() - QPointF(pos());
  SetBodyFill(theme::kBodyMoving);
  moveWinTimer_.start();
}

void MainWindow::TitleReleased(QMouseEvent*) {
  moveWinTimer_.stop();
  manualMove_ = false;
  titleBar_->unsetCursor();
  unsetCursor();
  SetBodyFill(theme::kBody);
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
  // The window body between the panels moves the window too.
  SetBodyFill(theme::kBodyMoving);
  if (e->button() == Qt::LeftButton) {
    moveGrab_ = e->globalPosition() - QPointF(pos());
    moveWinTimer_.start();
  }
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
  if (manualMove_ && (e->buttons() & Qt::LeftButton)) move((e->globalPosition() - moveGrab_).toPoint());
}

void MainWindow::mouseReleaseEvent(QMouseEvent* e) { TitleReleased(e); }

void MainWindow::MoveWinTimerTick() {
  moveWinTimer_.stop();
  titleBar_->setCursor(Qt::SizeAllCursor);
  setCursor(Qt::SizeAllCursor);
  if (!customMaximized_) SetEdgeStripsVisible(true);
  // The window manager moves the window; where it cannot, follow the pointer.
  QWindow* w = windowHandle();
  manualMove_ = !(w && w->startSystemMove());
}

void MainWindow::Timer1Tick() {
  bool leftDown = QGuiApplication::mouseButtons() & Qt::LeftButton;
  if (!leftDown) {
    if (formResizing_ && systemResize_) {
      formResizing_ = false;
      systemResize_ = false;
    }
    if (!formResizing_ && !moveWinTimer_.isActive() && bodyFill_ != theme::Argb(theme::kBody)) {
      SetBodyFill(theme::kBody);
      titleBar_->unsetCursor();
      unsetCursor();
    }
  }
  if (geometry() != lastBounds_) lastBounds_ = geometry();
}

QRect MainWindow::EdgeBounds(int tag, QPointF g) const {
  QRect r = startBounds_;
  int dx = int(std::lround(g.x() - startPoint_.x())), dy = int(std::lround(g.y() - startPoint_.y()));
  switch (tag) {
    case 1: r.setTop(std::min(r.top() + dy, r.bottom() + 1 - minimumHeight())); break;
    case 2: r.setBottom(std::max(r.bottom() + dy, r.top() - 1 + minimumHeight())); break;
    case 3: r.setLeft(std::min(r.left() + dx, r.right() + 1 - minimumWidth())); break;
    case 4: r.setRight(std::max(r.right() + dx, r.left() - 1 + minimumWidth())); break;
    default: break;
  }
  return r;
}

void MainWindow::EdgePressed(int tag, QPointF g) {
  formResizing_ = true;
  resizeTag_ = tag;
  startPoint_ = g;
  startBounds_ = geometry();
  SetBodyFill(theme::kBodyMoving);
  const Qt::Edges edges[] = {Qt::TopEdge, Qt::BottomEdge, Qt::LeftEdge, Qt::RightEdge};
  QWindow* w = windowHandle();
  systemResize_ = w && w->startSystemResize(edges[tag - 1]);
}

void MainWindow::EdgeMoved(int tag, QPointF g) {
  if (formResizing_ && !systemResize_ && tag == resizeTag_) setGeometry(EdgeBounds(tag, g));
}

void MainWindow::EdgeReleased(int tag, QPointF g) {
  if (formResizing_ && !systemResize_ && tag == resizeTag_) setGeometry(EdgeBounds(tag, g));
  formResizing_ = false;
  systemResize_ = false;
  SetBodyFill(theme::kBody);
}

void MainWindow::ShowMainMenu() {
  if (menu_->isVisible()) {
    menu_->hide();
    return;
  }
  IconButton* b = toolBar_->menuButton();
  menu_->popup(b->mapToGlobal(QPoint(0, b->height() + 6)));
}

// --- Marquees ---

std::vector<MarqueeLabel*> MainWindow::UiLabels() const {
  std::vector<MarqueeLabel*> out = toolsPanel_->MarqueeLabels();
  for (MarqueeLabel* l : effectPanel_->MarqueeLabels()) out.push_back(l);
  return out;
}

void MainWindow::SetupUILabelMarquee() {
  for (MarqueeLabel* l : UiLabels()) l->Setup();
}

void MainWindow::TeardownUILabelMarquee() {
  for (MarqueeLabel* l : UiLabels()) l->Teardown();
}

void MainWindow::SetupExpanderMarquee() {
  for (MarqueeLabel* l : toolsPanel_->GroupHeaders()) l->Setup();
}

void MainWindow::TeardownExpanderMarquee() {
  for (MarqueeLabel* l : toolsPanel_->GroupHeaders()) l->Teardown();
}

// --- Keyboard ---

void MainWindow::keyPressEvent(QKeyEvent* e) {
  const Qt::KeyboardModifiers m = e->modifiers();
  const bool ctrl = m & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  const bool shift = m & Qt::ShiftModifier;
  switch (e->key()) {
    case Qt::Key_Escape:
      CancelRun();
      if (workspace_->cropping()) workspace_->CancelCrop();
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (workspace_->cropping()) workspace_->ApplyCrop();
      break;
    case Qt::Key_0:
      if (!ctrl) return QWidget::keyPressEvent(e);
      ZoomTo100();
      break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
    case Qt::Key_6: workspace_->ZoomOut(); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: workspace_->ZoomIn(); break;
    case Qt::Key_C:
      if (ctrl) CopyToClipboard();
      break;
    case Qt::Key_F:
      if (ctrl) FitToWorkspace();
      break;
    case Qt::Key_L:
      if (!ctrl) RotateImage(false);
      break;
    case Qt::Key_O:
      if (ctrl) LoadImageFile();
      break;
    case Qt::Key_Q:
      if (ctrl) close();
      break;
    case Qt::Key_R:
      if (!ctrl) RotateImage(true);
      break;
    case Qt::Key_S:
      if (ctrl)
        SaveImageFile();
      else
        ToggleSplitView();
      break;
    case Qt::Key_V:
      if (ctrl) PasteFromClipboard();
      break;
    case Qt::Key_Z:
      if (ctrl && shift)
        Redo();
      else if (ctrl)
        Undo();
      break;
    case Qt::Key_F10: ShowMainMenu(); break;
    case Qt::Key_F12: SwapImages(); break;
    default: return QWidget::keyPressEvent(e);
  }
  e->accept();
}

// --- Shutdown ---

void MainWindow::closeEvent(QCloseEvent* e) {
  if (!closing_) {
    closing_ = true;
    driver_->Cancel = true;
    Shutdown();
  }
  QWidget::closeEvent(e);
}

void MainWindow::Shutdown() {
  Log(">>> FormDestroy begin");
  Log("  FormDestroy: disable timers");
  for (QTimer* t : {&updatePreviewTimer_, &previewDebounceTimer_, &cleanUpTimer_, &initializationTimer_,
                    &moveWinTimer_, &timer1_, &monitorCheckTimer_})
    t->stop();
  Log("  FormDestroy: TeardownMenuMarquee");
  menu_->hide();
  Log("  FormDestroy: TeardownUILabelMarquee");
  TeardownUILabelMarquee();
  Log("  FormDestroy: TeardownExpanderMarquee");
  TeardownExpanderMarquee();
  Log("  FormDestroy: AbortProcessing + Sleep");
  // Every run is cancelled and joined; the window keeps painting and its
  // queued blocks keep running while we wait.
  try {
    shutdownClean_ = driver_->Shutdown(options_.shutdownTimeoutMs);
  } catch (const std::exception& e) {
    LogException("FormDestroy", e);
    shutdownClean_ = false;
  }
  dispatcher_->Shutdown();
  if (!shutdownClean_) Log("  FormDestroy: effects still running after the wait");
  Log("<<< FormDestroy done");
}

// --- What the driver shows ---

void MainWindow::ShowMessage(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, "Lumaquill", text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->open();
}

void MainWindow::ShowProgress(int percent) { titleBar_->pill()->SetValue(percent); }

void MainWindow::HideProgress() { titleBar_->pill()->SetValue(101); }

void MainWindow::RepaintWorkspace() { SyncWorkspace(); }

void MainWindow::SyncWorkspace() {
  workspace_->SetImages(driver_->VIrImage, driver_->VIrSourceImage);
  emit imageChanged();
}

bool MainWindow::PreviewHasBitmap() const { return effectPanel_->preview()->HasBitmap(); }

bool MainWindow::TextureSwitchOn() const { return effectPanel_->textureSwitch()->isOn(); }

void MainWindow::FullRunEnded(int effectNumber, int outcome) {
  ++fullRunsEnded_;
  emit fullRunFinished(effectNumber, outcome);
}

}  // namespace lq::studio
