// Workspace commands: crop and rotation change source and result together
// and can be undone; swap; split view; zoom controls.
#include <QSignalSpy>
#include <QTemporaryDir>

#include "tests/studio/studio_test.h"
#include "ui/main/tool_bar.h"
#include "ui/main/workspace_view.h"

namespace lq::studio::test {

namespace {
uint32_t Px(const Image& img, int x, int y) { return img.PeekPixels().at(x, y); }
int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
}  // namespace

class TestWorkspace : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<ScopedEffect> effect_;
  std::unique_ptr<MainWindow> w_;

 private slots:
  // Each case starts from a 300 x 200 picture whose result differs from its
  // source (tinted red by a quick full run).
  void init() {
    effect_ = std::make_unique<ScopedEffect>(300, &SlowEffect::Proc);
    SlowEffect::Reset(1, 1);
    w_ = MakeWindow();
    QVERIFY(w_->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 300, 200)));
    QSignalSpy ended(w_.get(), &MainWindow::fullRunFinished);
    w_->ApplyEffect();
    QVERIFY(WaitUntil([&] { return ended.count() == 1 && w_->driver().ActiveWorkers() == 0; }));
    QVERIFY(w_->driver().VIrImage != w_->driver().VIrSourceImage);
    QCOMPARE(w_->history().Count(), 2);
  }
  void cleanup() {
    w_.reset();
    effect_.reset();
  }

  void cropCutsBothAndUndoRestores() {
    EffectDriver& d = w_->driver();
    const Image result = d.VIrImage, source = d.VIrSourceImage;
    w_->StartCrop();
    WorkspaceView* ws = w_->workspace();
    QVERIFY(ws->cropping());
    QVERIFY(ws->cropToolbar()->isVisible());
    // The selection starts one unit inside the picture; Enter applies it.
    const QRect cut = CropRectInImage(ws->selection(), ws->placement(), QSize(300, 200));
    QVERIFY(cut.width() >= 297 && cut.height() >= 197);
    QTest::keyClick(w_.get(), Qt::Key_Return);
    QVERIFY(!ws->cropping());
    const int w = d.VIrImage.width();
    QCOMPARE(QSize(w, d.VIrImage.height()), cut.size());
    QCOMPARE(QSize(d.VIrSourceImage.width(), d.VIrSourceImage.height()), cut.size());
    // Both were cut at the same place.
    for (QPoint p : {QPoint(0, 0), QPoint(cut.width() - 1, cut.height() - 1), QPoint(37, 81)}) {
      QCOMPARE(Px(d.VIrImage, p.x(), p.y()), Px(result, cut.x() + p.x(), cut.y() + p.y()));
      QCOMPARE(Px(d.VIrSourceImage, p.x(), p.y()), Px(source, cut.x() + p.x(), cut.y() + p.y()));
    }
    QCOMPARE(w_->history().Count(), 3);
    w_->Undo();
    QCOMPARE(d.VIrImage.width(), 300);
    QCOMPARE(d.VIrSourceImage.height(), 200);
    QVERIFY(std::abs(Red(Px(d.VIrImage, 5, 5)) - Red(Px(result, 5, 5))) < 12);
    QVERIFY(std::abs(Red(Px(d.VIrSourceImage, 5, 5)) - Red(Px(source, 5, 5))) < 12);
    w_->Redo();
    QCOMPARE(d.VIrImage.width(), w);
    QCOMPARE(d.VIrSourceImage.width(), w);
  }

  void cropSelectionRules() {
    WorkspaceView* ws = w_->workspace();
    w_->StartCrop();
    QRectF sel = ws->selection();
    // An edge may not come closer than 20 to the opposite one.
    QVERIFY(!ws->MoveSelectionEdge(1, sel.bottom() - 19));
    QCOMPARE(ws->selection(), sel);
    QVERIFY(ws->MoveSelectionEdge(1, sel.bottom() - 20));
    QVERIFY(!ws->MoveSelectionEdge(4, ws->selection().left() + 10));
    // A selection beside the picture is refused and nothing changes.
    ws->SetSelection(QRectF(-500, -500, 100, 100));
    const Image before = w_->driver().VIrImage;
    QVERIFY(!ws->ApplyCrop());
    QCOMPARE(w_->driver().VIrImage, before);
    // Escape ends cropping without a change; "Crop" again does too.
    QTest::keyClick(w_.get(), Qt::Key_Escape);
    QVERIFY(!ws->cropping());
    w_->StartCrop();
    w_->StartCrop();
    QVERIFY(!ws->cropping());
    QCOMPARE(w_->history().Count(), 2);
  }

  void rotationTurnsBothAndUndoRestores_data() {
    QTest::addColumn<bool>("clockwise");
    QTest::newRow("right") << true;
    QTest::newRow("left") << false;
  }
  void rotationTurnsBothAndUndoRestores() {
    QFETCH(bool, clockwise);
    EffectDriver& d = w_->driver();
    const Image result = d.VIrImage, source = d.VIrSourceImage;
    QTest::keyClick(w_.get(), clockwise ? Qt::Key_R : Qt::Key_L);
    QCOMPARE(d.VIrImage.width(), 200);
    QCOMPARE(d.VIrImage.height(), 300);
    QCOMPARE(d.VIrSourceImage.width(), 200);
    // The former top-left corner: top-right after a right turn, bottom-left after a left one.
    QPoint corner = clockwise ? QPoint(199, 0) : QPoint(0, 299);
    QCOMPARE(Px(d.VIrImage, corner.x(), corner.y()), Px(result, 0, 0));
    QCOMPARE(Px(d.VIrSourceImage, corner.x(), corner.y()), Px(source, 0, 0));
    QCOMPARE(w_->history().Count(), 3);
    w_->Undo();
    QCOMPARE(d.VIrImage.width(), 300);
    QCOMPARE(d.VIrSourceImage.width(), 300);
  }

  void swapIsNotAHistoryEntry() {
    EffectDriver& d = w_->driver();
    const Image result = d.VIrImage, source = d.VIrSourceImage;
    QTest::keyClick(w_.get(), Qt::Key_F12);
    QCOMPARE(d.VIrImage, source);
    QCOMPARE(d.VIrSourceImage, result);
    QCOMPARE(w_->history().Count(), 2);
    // Undo goes to the pair before the last entry: the loaded photograph.
    w_->Undo();
    QVERIFY(Red(Px(d.VIrImage, 0, 0)) < 12);
    QVERIFY(Red(Px(d.VIrSourceImage, 0, 0)) < 12);
  }

  void splitView() {
    WorkspaceView* ws = w_->workspace();
    ToolBar* tb = w_->toolBar();
    QCOMPARE(tb->splitButton()->toolTip(), QString("Split view on"));
    QTest::keyClick(w_.get(), Qt::Key_S);
    QVERIFY(ws->splitView());
    QCOMPARE(tb->splitButton()->toolTip(), QString("Split view off"));
    QVERIFY(ws->dividerVisible());
    QRectF r = ImageDisplayRect(ws->placement(), QSize(300, 200));
    QVERIFY(std::abs(ws->dividerX() - r.center().x()) < 1);
    // The left part shows the source, the right part the (red) result.
    QImage shot = ws->grab().toImage();
    QPoint left(int(r.left() + r.width() / 4), int(r.center().y()));
    QPoint right(int(r.right() - r.width() / 4), int(r.center().y()));
    QVERIFY(qRed(shot.pixel(right)) > qRed(shot.pixel(left)) + 60);
    // Scrolled entirely above the workspace, the divider hides.
    ViewPlacement v = ws->placement();
    v.pan.setY(-5000);
    ws->SetPlacement(v);
    QVERIFY(!ws->dividerVisible());
    QTest::keyClick(w_.get(), Qt::Key_S);
    QVERIFY(!ws->splitView());
  }

  void zoomControls() {
    WorkspaceView* ws = w_->workspace();
    QLabel* label = w_->toolBar()->zoomLabel();
    QTest::keyClick(w_.get(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(ws->zoomFactor(), 1.0f);
    QCOMPARE(label->text(), QString("100%"));
    w_->toolBar()->zoomInButton()->click();
    QCOMPARE(label->text(), QString("110%"));
    QVERIFY(ws->zooming());  // fast drawing until the steps pause
    QVERIFY(WaitUntil([&] { return !ws->zooming(); }, 2000));
    QTest::keyClick(w_.get(), Qt::Key_Minus);
    QCOMPARE(label->text(), QString("100%"));
    QTest::keyClick(w_.get(), Qt::Key_F, Qt::ControlModifier);
    ViewPlacement fit = BestFit(ws->size(), QSize(300, 200));
    QCOMPARE(ws->zoomFactor(), fit.zoom);
    QCOMPARE(label->text(), ZoomText(fit.zoom));
  }

  void rightButtonShowsTheSource() {
    WorkspaceView* ws = w_->workspace();
    QPoint c = ImageDisplayRect(ws->placement(), QSize(300, 200)).center().toPoint();
    int redResult = qRed(ws->grab().toImage().pixel(c));
    QTest::mousePress(ws, Qt::RightButton, {}, c);
    QVERIFY(ws->rightPreview());
    int redSource = qRed(ws->grab().toImage().pixel(c));
    QTest::mouseRelease(ws, Qt::RightButton, {}, c);
    QVERIFY(!ws->rightPreview());
    QVERIFY(redResult > redSource + 60);
  }
};

LQ_STUDIO_TEST(TestWorkspace)

}  // namespace lq::studio::test

#include "workspace_test.moc"
