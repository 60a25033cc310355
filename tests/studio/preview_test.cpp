// When previews are computed, panning and zooming the preview, and that the
// preview never touches a full run.
#include <QSignalSpy>
#include <QTemporaryDir>

#include "tests/studio/studio_test.h"
#include "ui/main/effect_panel.h"
#include "ui/main/preview_view.h"
#include "ui/main/view_math.h"

namespace lq::studio::test {

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
  Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// Drags over the preview from `from` by `dx` in small steps.
void Drag(QWidget* preview, QPoint from, int dx, int dy = 0) {
  SendMouse(preview, QEvent::MouseButtonPress, from, Qt::LeftButton);
  const int steps = 10;
  for (int i = 1; i <= steps; ++i)
    SendMouse(preview, QEvent::MouseMove, from + QPoint(dx * i / steps, dy * i / steps), Qt::LeftButton);
  SendMouse(preview, QEvent::MouseButtonRelease, from + QPoint(dx, dy), Qt::NoButton);
}

void Wheel(QWidget* w, int delta) {
  QPointF p(w->width() / 2.0, w->height() / 3.0);
  QWheelEvent e(p, w->mapToGlobal(p), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                false);
  QApplication::sendEvent(w, &e);
}

bool Idle(MainWindow& w) {
  return !w.updatePreviewTimer().isActive() && !w.previewDebounceTimer().isActive() &&
         w.driver().ActiveWorkers() == 0;
}

}  // namespace

class TestPreview : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<ScopedEffect> effect_;

 private slots:
  void init() {
    // Watercolor's place in the table is taken by an observable test effect.
    effect_ = std::make_unique<ScopedEffect>(300, &SlowEffect::Proc);
    SlowEffect::Reset(5, 10);
  }
  void cleanup() { effect_.reset(); }

  void sliderMovedThenReleasedGivesExactlyOnePreview() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 600, 400)));
    QVERIFY(WaitUntil([&] { return Idle(*w); }));
    const int launches = w->previewLaunches();
    const int draws = w->effectPreviewDraws();
    QSlider* s = w->effectPanel()->slider(1);
    // Dragging for well over one timer beat computes nothing.
    s->setSliderDown(true);
    for (int v = 10; v <= 70; v += 5) {
      s->setValue(v);
      QTest::qWait(70);
    }
    QCOMPARE(w->previewLaunches(), launches);
    s->setSliderDown(false);
    QVERIFY(WaitUntil([&] { return Idle(*w) && w->effectPreviewDraws() > draws; }, 10000));
    QTest::qWait(700);  // one more beat would launch a second preview
    QCOMPARE(w->previewLaunches(), launches + 1);
    QCOMPARE(SlowEffect::started.load(), 2);  // the load's preview and this one
    QCOMPARE(ParamsFor(w->params(), 300)->Value2, 70);
    // The routine ran on a worker; the panel shows its 225 x 225 result.
    QVERIFY(!SlowEffect::ranOnGuiThread.load());
    QCOMPARE(w->effectPanel()->preview()->bitmap().size(), QSize(225, 225));
  }

  void valueChangedWithoutDragLaunchesWithinOneBeat() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 600, 400)));
    QVERIFY(WaitUntil([&] { return Idle(*w); }));
    const int launches = w->previewLaunches();
    QElapsedTimer t;
    t.start();
    w->effectPanel()->slider(2)->setValue(55);
    w->effectPanel()->slider(3)->setValue(56);
    QVERIFY(WaitUntil([&] { return w->previewLaunches() > launches; }, 2000));
    QVERIFY(t.elapsed() < 1500);  // one 500 ms beat, with room for a loaded machine
    QTest::qWait(700);
    QCOMPARE(w->previewLaunches(), launches + 1);
  }

  void panningClampsTheRegionAndShowsItAtOnce() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 600, 400)));
    QVERIFY(WaitUntil([&] { return Idle(*w); }));
    PreviewView* pv = w->effectPanel()->preview();
    w->SetPreviewZoom(2.0f);
    QCOMPARE(w->previewZoom(), 2.0f);
    QCOMPARE(pv->zoomStrip()->zoomText(), QString("200%"));
    const int launches = w->previewLaunches();
    // Dragging left moves the region right, up to 600 - 225 / 2 rounded half to even.
    for (int i = 0; i < 6; ++i) Drag(pv, QPoint(200, 100), -190);
    QCOMPARE(w->driver().PreviewStartX.load(), 488);
    for (int i = 0; i < 3; ++i) Drag(pv, QPoint(100, 200), 0, -190);
    QCOMPARE(w->driver().PreviewStartY.load(), 288);  // 400 - 112.5 -> 287.5 -> 288
    QImage raw = pv->bitmap();
    QCOMPARE(raw.size(), QSize(225, 225));
    // The raw region is shown without an effect run.
    QCOMPARE(w->previewLaunches(), launches);
    for (int i = 0; i < 6; ++i) Drag(pv, QPoint(10, 10), 190, 190);
    QCOMPARE(w->driver().PreviewStartX.load(), 0);
    QCOMPARE(w->driver().PreviewStartY.load(), 0);
    QVERIFY(pv->bitmap() != raw);
    // The processed preview follows once the debounce has passed.
    QVERIFY(WaitUntil([&] { return w->previewLaunches() > launches && Idle(*w); }, 10000));
    QCOMPARE(w->previewLaunches(), launches + 1);
  }

  void wheelZoomStaysWithinItsLimits() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 600, 400)));
    PreviewView* pv = w->effectPanel()->preview();
    for (int i = 0; i < 30; ++i) Wheel(pv, 120);
    QCOMPARE(w->previewZoom(), kMaxPreviewZoom);
    QCOMPARE(pv->zoomStrip()->zoomText(), QString("500%"));
    for (int i = 0; i < 40; ++i) Wheel(pv, -120);
    QCOMPARE(w->previewZoom(), kMinPreviewZoom);
    QCOMPARE(pv->zoomStrip()->zoomText(), QString("25%"));
    // A click on the strip's percentage goes back to 100 %.
    PreviewZoomStrip* strip = pv->zoomStrip();
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->rect().center());
    QCOMPARE(w->previewZoom(), 1.0f);
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->ZoomInRect().center());
    QCOMPARE(w->previewZoom(), 1.2f);
  }

  void pressingPanningAndZoomingLeaveAFullRunAlone() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "p.png", 600, 400)));
    QVERIFY(WaitUntil([&] { return Idle(*w); }));
    SlowEffect::Reset(40, 25);
    QSignalSpy ended(w.get(), &MainWindow::fullRunFinished);
    w->ApplyEffect();
    QVERIFY(WaitUntil([&] { return SlowEffect::started.load() == 1; }));
    PreviewView* pv = w->effectPanel()->preview();
    for (int i = 0; i < 3; ++i) {
      Drag(pv, QPoint(100, 100), -40, -30);
      Wheel(pv, 120);
      QTest::qWait(150);
    }
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 30000));
    QCOMPARE(ended[0][1].toInt(), int(EffectHost::Outcome::Succeeded));
    QCOMPARE(w->history().Count(), 2);
  }
};

LQ_STUDIO_TEST(TestPreview)

}  // namespace lq::studio::test

#include "preview_test.moc"
