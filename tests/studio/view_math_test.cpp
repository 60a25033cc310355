// Geometry of the workspace and the preview, worked out by hand.
#include "tests/studio/studio_test.h"
#include "ui/main/image_ops.h"
#include "ui/main/view_math.h"

namespace lq::studio::test {

class TestViewMath : public QObject {
  Q_OBJECT

 private slots:
  void bestFit() {
    ViewPlacement v = BestFit(QSizeF(240, 150), QSize(600, 450));
    QCOMPARE(v.zoom, 150.0f / 450.0f);
    QVERIFY(std::abs(v.pan.x() - 20.0) < 1e-4);
    QVERIFY(std::abs(v.pan.y()) < 1e-4);
    QCOMPARE(ZoomText(v.zoom), QString("33%"));
    // Tiny pictures stop at 10x, huge ones at 0.1x.
    QCOMPARE(BestFit(QSizeF(1000, 1000), QSize(2, 2)).zoom, kMaxZoom);
    QCOMPARE(BestFit(QSizeF(100, 100), QSize(100000, 100)).zoom, kMinZoom);
  }

  void wheelZoom_data() {
    QTest::addColumn<float>("from");
    QTest::addColumn<int>("delta");
    QTest::addColumn<float>("expected");
    QTest::newRow("0.95 up keeps 1.026") << 0.95f << 120 << 0.95f * 1.08f;
    QTest::newRow("0.93 up snaps to 1") << 0.93f << 120 << 1.0f;
    QTest::newRow("small zooms step 1.03") << 0.4f << 120 << 0.4f * 1.03f;
    QTest::newRow("large zooms step 1.12") << 2.0f << -120 << 2.0f / 1.12f;
    QTest::newRow("zero delta zooms out") << 1.0f << 0 << 1.0f / 1.08f;
    QTest::newRow("upper limit") << 9.9f << 120 << 10.0f;
    QTest::newRow("lower limit") << 0.1f << -120 << 0.1f;
  }
  void wheelZoom() {
    QFETCH(float, from);
    QFETCH(int, delta);
    QFETCH(float, expected);
    QCOMPARE(WheelZoom(from, delta), expected);
  }

  void buttonStepsStopAtTheLimits() {
    float z = 1;
    for (int i = 0; i < 25; ++i) z = ZoomStep(z, true);
    QCOMPARE(z, kMaxZoom);
    for (int i = 0; i < 60; ++i) z = ZoomStep(z, false);
    QCOMPARE(z, kMinZoom);
  }

  void anchoredZoomKeepsThePointUnderTheAnchor() {
    QPointF pan(37, -12), anchor(300, 200);
    QPointF imagePoint = (anchor - pan) / 0.8;
    QPointF newPan = AnchoredPan(anchor, pan, 0.8f, 1.7f);
    QPointF after = (anchor - newPan) / 1.7;
    QVERIFY(std::abs(after.x() - imagePoint.x()) < 1e-4);
    QVERIFY(std::abs(after.y() - imagePoint.y()) < 1e-4);
  }

  void previewPanning_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<double>("move");
    QTest::addColumn<float>("zoom");
    QTest::addColumn<int>("imageSize");
    QTest::addColumn<int>("expected");
    // 600 - 225 / 2 = 487.5, rounded half to even.
    QTest::newRow("zoom 2 stops at 488") << 300 << -2000.0 << 2.0f << 600 << 488;
    QTest::newRow("zoom 1 stops at 375") << 300 << -2000.0 << 1.0f << 600 << 375;
    QTest::newRow("stops at 0") << 30 << 500.0 << 1.0f << 600 << 0;
    QTest::newRow("content follows the pointer") << 100 << -10.0 << 2.0f << 600 << 105;
    QTest::newRow("picture smaller than the region") << 0 << -50.0 << 1.0f << 150 << 0;
  }
  void previewPanning() {
    QFETCH(int, start);
    QFETCH(double, move);
    QFETCH(float, zoom);
    QFETCH(int, imageSize);
    QFETCH(int, expected);
    QCOMPARE(PannedPreviewStart(start, move, zoom, 225, imageSize), expected);
  }

  void previewRegionComesBackInside() {
    int x = 500, y = -40;
    QRectF r = ClampPreviewRegion(x, y, 1.0f, QSizeF(225, 225), QSize(600, 400));
    QCOMPARE(x, 375);
    QCOMPARE(y, 0);
    QCOMPARE(r, QRectF(375, 0, 225, 225));
    // A 150 x 120 picture loads with the start at (-25, -40): both become 0.
    x = 150 / 2 - 100;
    y = 120 / 2 - 100;
    ClampPreviewRegion(x, y, 1.0f, QSizeF(225, 225), QSize(150, 120));
    QCOMPARE(x, 0);
    QCOMPARE(y, 0);
  }

  void previewZoomLimits() {
    float z = 1;
    for (int i = 0; i < 40; ++i) z = PreviewWheelZoom(z, 120);
    QCOMPARE(z, kMaxPreviewZoom);
    QCOMPARE(ZoomText(z), QString("500%"));
    for (int i = 0; i < 40; ++i) z = PreviewWheelZoom(z, -120);
    QCOMPARE(z, kMinPreviewZoom);
    QCOMPARE(ZoomText(z), QString("25%"));
    QCOMPARE(PreviewIconZoom(4.5f, true), kMaxPreviewZoom);
    QCOMPARE(PreviewIconZoom(1.0f, true), 1.2f);
    QCOMPARE(PreviewIconZoom(0.26f, false), kMinPreviewZoom);
  }

  void cropRectangle() {
    ViewPlacement v{1.0f, QPointF(40, 30)};
    QSize img(600, 400);
    // One unit inside every edge at zoom 1 removes one pixel on each side.
    QCOMPARE(CropRectInImage(InitialCropSelection(v, img), v, img), QRect(1, 1, 598, 398));
    // At zoom 2 the selection's units are halved, truncated.
    ViewPlacement v2{2.0f, QPointF(0, 0)};
    QCOMPARE(CropRectInImage(QRectF(11, 21, 41, 61), v2, img), QRect(5, 10, 20, 30));
    // Partly outside: cut to the picture.
    QCOMPARE(CropRectInImage(QRectF(-100, -50, 300, 200), v, img), QRect(0, 0, 160, 120));
    // Wholly outside: empty.
    QVERIFY(CropRectInImage(QRectF(700, 500, 50, 50), v, img).isEmpty());
  }

  void cropToolbarPlacement() {
    QSizeF bar(76, 36);
    QCOMPARE(CropToolbarPos(QRectF(100, 200, 300, 100), bar), QPointF(212, 158));
    // No room above: just inside the selection's top.
    QCOMPARE(CropToolbarPos(QRectF(100, 40, 300, 100), bar), QPointF(212, 12));
  }

  void dividerPlacement() {
    ViewPlacement v{0.5f, QPointF(100, 50)};
    QSize img(400, 300);
    DividerPlacement d = PlaceDivider(10, v, img, QSizeF(800, 600));
    QVERIFY(d.visible);
    QCOMPARE(d.x, 100.0f);  // clamped into the picture's span
    QCOMPARE(d.top, 50.0);
    QCOMPARE(d.bottom, 200.0);
    // Scrolled entirely above the workspace: hidden.
    ViewPlacement above{0.5f, QPointF(100, -400)};
    QVERIFY(!PlaceDivider(200, above, img, QSizeF(800, 600)).visible);
  }

  void progressPill() {
    QCOMPARE(ProgressPillWidth(500, 30), 108.0);
    QVERIFY(ProgressPillWidth(500, 30) >= kPillLabelMinWidth);
    QCOMPARE(ProgressPillWidth(500, 5), 18.0);
    QVERIFY(ProgressPillWidth(500, 5) < kPillLabelMinWidth);
    QCOMPARE(ProgressPillWidth(100, 50), 0.0);
  }

  void rotationMovesPixelsExactly() {
    // 3 x 2, each pixel distinct.
    std::vector<uint32_t> px = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005, 0xFF000006};
    Image img = Image::MakeFromPixels(3, 2, std::vector<uint32_t>(px), true);
    Image cw = RotateImage90(img, true);
    QCOMPARE(cw.width(), 2);
    QCOMPARE(cw.height(), 3);
    ConstPixelView v = cw.PeekPixels();
    QCOMPARE(v.at(1, 0), 0xFF000001u);  // former top-left now top-right
    QCOMPARE(v.at(0, 0), 0xFF000004u);
    QCOMPARE(v.at(0, 2), 0xFF000006u);
    Image ccw = RotateImage90(img, false);
    ConstPixelView w = ccw.PeekPixels();
    QCOMPARE(w.at(0, 2), 0xFF000001u);  // former top-left now bottom-left
    QCOMPARE(w.at(1, 0), 0xFF000006u);
    // Left after right is the picture itself.
    Image back = RotateImage90(cw, false);
    ConstPixelView b = back.PeekPixels();
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) QCOMPARE(b.at(x, y), px[size_t(y * 3 + x)]);
  }
};

LQ_STUDIO_TEST(TestViewMath)

}  // namespace lq::studio::test

#include "view_math_test.moc"
