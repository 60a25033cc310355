// The effect panel's preset icons and custom-brush buttons.
#include <QFile>
#include <QTemporaryDir>

#include "tests/studio/studio_test.h"
#include "ui/main/effect_panel.h"
#include "ui/main/marquee_label.h"

namespace lq::studio::test {

namespace {
QString WriteText(const QString& dir, const QString& name, const QByteArray& text) {
  QString path = QDir(dir).filePath(name);
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(text);
  return path;
}
}  // namespace

class TestPresetsAndBrushes : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

 private slots:
  void presetFileMovesTheSelectedEffectsSliders() {
    auto w = MakeWindow();
    QString file = WriteText(dir_.path(), "one.lqk", "[Effect_3_0]\r\nValue4=55\r\nName4=changed\r\n");
    QVERIFY(w->LoadParameters(file));
    QCOMPARE(w->effectPanel()->slider(3)->value(), 55);
    QCOMPARE(ParamsFor(w->params(), 300)->Value4, 55);
    // Only what the file names changes; labels wait for the next selection.
    QCOMPARE(w->effectPanel()->slider(0)->value(), 30);
    QCOMPARE(w->effectPanel()->paramLabel(3)->text(), QString("opacity"));
    QCOMPARE(ParamsFor(w->params(), 301)->Value1, 90);
    QVERIFY(OpenMessages(w.get()).isEmpty());
  }

  void presetRoundTripAndErrors() {
    auto w = MakeWindow();
    w->effectPanel()->slider(1)->setValue(12);
    ParamsFor(w->params(), 300)->Value2 = 12;
    QString file = QDir(dir_.path()).filePath("all.lqk");
    QVERIFY(w->SaveParameters(file));
    QCOMPARE(OpenMessages(w.get()), QStringList({"Parameters saved successfully!"}));
    CloseMessages(w.get());
    InitializeParameters(w->params());
    QVERIFY(w->LoadParameters(file));
    QCOMPARE(ParamsFor(w->params(), 300)->Value2, 12);
    // A missing file changes nothing and says nothing; an unwritable place is reported.
    QVERIFY(!w->LoadParameters(QDir(dir_.path()).filePath("none.lqk")));
    QVERIFY(OpenMessages(w.get()).isEmpty());
    QVERIFY(!w->SaveParameters(QDir(dir_.path()).filePath("no/such/dir/x.lqk")));
    QStringList shown = OpenMessages(w.get());
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].startsWith("Error saving parameters: "));
    CloseMessages(w.get());
  }

  void customBrushesForTheSelectedEffect() {
    auto w = MakeWindow();
    w->SelectEffect(303);
    QVERIFY(w->effectPanel()->brushPanel()->isVisible());
    EffectDriver& d = w->driver();
    // Nothing readable: the message, and nothing changes.
    QString text = WriteText(dir_.path(), "notes.png", "not a picture");
    QVERIFY(!w->UseCustomBrushes({text}));
    QCOMPARE(OpenMessages(w.get()), QStringList({"Error loading custom brushes"}));
    CloseMessages(w.get());
    QVERIFY(!d.CustomBrushesOn303);
    QString brush = WritePatternPng(dir_.path(), "brush.png", 64, 48);
    QVERIFY(w->UseCustomBrushes({brush, text}));
    QVERIFY(d.CustomBrushesOn303);
    QVERIFY(!d.CustomBrushesOn302 && !d.CustomBrushesOn304);
    QCOMPARE(d.CustomBrushBitmap303.width(), 2048);
    QCOMPARE(d.CustomBrushBitmap303.height(), 256);
    QVERIFY(w->updatePreviewTimer().isActive() || !d.VIrImage);
    // Reset turns the custom brushes off and keeps the atlas.
    w->effectPanel()->resetBrushesButton()->click();
    QVERIFY(!d.CustomBrushesOn303);
    QVERIFY(bool(d.CustomBrushBitmap303));
  }

  void impastoCountsItsBrushes() {
    auto w = MakeWindow();
    w->SelectEffect(304);
    QStringList files;
    for (int i = 0; i < 3; ++i) files << WritePatternPng(dir_.path(), QString("b%1.png").arg(i), 20 + i, 30);
    QVERIFY(w->UseCustomBrushes(files));
    QVERIFY(w->driver().CustomBrushesOn304);
    QCOMPARE(w->driver().CustomBrushCount304, 3);
  }
};

LQ_STUDIO_TEST(TestPresetsAndBrushes)

}  // namespace lq::studio::test

#include "presets_brushes_test.moc"
