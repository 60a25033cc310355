// Start-up: the selected effect and its parameters, picking effects in the
// lists, the command-line picture, and "Apply effect".
#include <QSignalSpy>
#include <QTemporaryDir>

#include "tests/studio/studio_test.h"
#include "ui/main/effect_panel.h"
#include "ui/main/marquee_label.h"
#include "ui/main/toggle_switch.h"
#include "ui/main/tools_panel.h"
#include "ui/main/workspace_view.h"

namespace lq::studio::test {

namespace {

void ClickEffect(MainWindow& w, int number) {
  EffectGroup* g = w.toolsPanel()->group(number / 100);
  if (!g->expanded()) QTest::mouseClick(g, Qt::LeftButton, {}, g->HeaderRect().center());
  int index = int(std::find(g->effects().begin(), g->effects().end(), number) - g->effects().begin());
  QTest::mouseClick(g, Qt::LeftButton, {}, g->ItemRect(index).center());
}

QStringList Labels(MainWindow& w) {
  QStringList out;
  for (int i = 0; i < 5; ++i) out << w.effectPanel()->paramLabel(i)->text();
  return out;
}

QList<int> Values(MainWindow& w) {
  QList<int> out;
  for (int i = 0; i < 5; ++i) out << w.effectPanel()->slider(i)->value();
  return out;
}

}  // namespace

class TestStartup : public QObject {
  Q_OBJECT

 private slots:
  void selectsWatercolorWithItsDefaults() {
    auto w = MakeWindow();
    QCOMPARE(w->selectedEffect(), 300);
    QCOMPARE(Labels(*w), QStringList({"iterations", "brush complexity", "brush size", "opacity", "edge intensity"}));
    QCOMPARE(Values(*w), QList<int>({30, 40, 40, 100, 20}));
    for (int i = 0; i < 5; ++i)
      QCOMPARE(w->effectPanel()->percentLabel(i)->text(), QString::number(Values(*w)[i]));
    // Only the Painting list is open, its Watercolor item marked.
    for (int c = 1; c <= 4; ++c) QCOMPARE(w->toolsPanel()->group(c)->expanded(), c == 3);
    EffectGroup* painting = w->toolsPanel()->group(3);
    QCOMPARE(painting->ItemText(0), QString::fromUtf8("\u25B6 Watercolor"));
    QCOMPARE(painting->ItemText(1), QString::fromUtf8("\u2023 Watercolor 2"));
    QVERIFY(w->effectPanel()->eraseSwitch()->isEnabled());
    QVERIFY(w->effectPanel()->eraseSwitch()->isOn());
    QVERIFY(w->driver().FEraseBdChecked.load());
    QVERIFY(w->effectPanel()->textureSwitch()->isOn());
    QVERIFY(!w->effectPanel()->brushPanel()->isVisible());
    QCOMPARE(w->driver().FCurrentEffectNumber.load(), -1);
    // No picture yet: the drop zone shows.
    QVERIFY(w->workspace()->dropZone()->isVisible());
  }

  void applyWithoutAPictureSaysSo() {
    auto w = MakeWindow();
    QTest::mouseClick(w->effectPanel()->applyButton(), Qt::LeftButton);
    QCOMPARE(OpenMessages(w.get()), QStringList({"No image loaded"}));
    QVERIFY(!w->driver().IsEffectRunning());
    CloseMessages(w.get());
  }

  void pickingAnEffectShowsItsParameters_data() {
    QTest::addColumn<int>("effect");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("brushes");
    QTest::newRow("Stippling") << 201 << QStringList({"darkening", "unused", "unused", "unused", "unused"})
                               << QList<int>({50, 0, 0, 0, 0}) << false << false;
    QTest::newRow("Smooth painting") << 306
                                     << QStringList({"max brush size", "iterations", "unused", "unused", "unused"})
                                     << QList<int>({35, 0, 0, 0, 0}) << false << false;
    QTest::newRow("Oil Pastel") << 302
                                << QStringList({"min brush size", "max brush size", "iterations", "quality", "opacity"})
                                << QList<int>({10, 70, 30, 30, 100}) << true << true;
    QTest::newRow("Felt-tip pen") << 202
                                  << QStringList({"stroke density", "stroke opacity", "stroke length", "stroke width",
                                                  "edge intensity"})
                                  << QList<int>({65, 70, 30, 5, 40}) << true << false;
    QTest::newRow("Retro film") << 403 << QStringList({"saturation", "warmth", "contrast", "grain", "vignette"})
                                << QList<int>({30, 35, 60, 20, 25}) << false << false;
  }
  void pickingAnEffectShowsItsParameters() {
    QFETCH(int, effect);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, values);
    QFETCH(bool, erase);
    QFETCH(bool, brushes);
    auto w = MakeWindow();
    ClickEffect(*w, effect);
    QCOMPARE(w->selectedEffect(), effect);
    QCOMPARE(Labels(*w), labels);
    QCOMPARE(Values(*w), values);
    QCOMPARE(w->effectPanel()->eraseSwitch()->isEnabled(), erase);
    QCOMPARE(w->effectPanel()->eraseCaption()->isEnabled(), erase);
    QCOMPARE(w->effectPanel()->brushPanel()->isVisible(), brushes);
    // The clicked list opens alone and marks the effect; the others show bullets only.
    for (int c = 1; c <= 4; ++c) {
      EffectGroup* g = w->toolsPanel()->group(c);
      QCOMPARE(g->expanded(), c == effect / 100);
      for (int i = 0; i < int(g->effects().size()); ++i)
        QCOMPARE(g->ItemText(i).left(1),
                 QString::fromUtf8(g->effects()[size_t(i)] == effect ? "\u25B6" : "\u2023"));
    }
  }

  void movedValueReturnsOnceAPreviewRan() {
    ScopedEffect fast(300, &SlowEffect::Proc);
    SlowEffect::Reset(1, 1);
    QTemporaryDir dir;
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir.path(), "p.png", 300, 200)));
    w->effectPanel()->slider(0)->setValue(77);
    // A preview stores the values of the effect it runs.
    QVERIFY(WaitUntil([&] { return !w->updatePreviewTimer().isActive(); }));
    ClickEffect(*w, 302);
    QCOMPARE(Values(*w)[0], 10);
    ClickEffect(*w, 300);
    QCOMPARE(Values(*w)[0], 77);
    // Double-clicking the heading restores every default.
    QTest::mouseDClick(w->effectPanel()->paramsHeading(), Qt::LeftButton);
    QCOMPARE(Values(*w), QList<int>({30, 40, 40, 100, 20}));
    QCOMPARE(ParamsFor(w->params(), 300)->Value1, 30);
  }

  void commandLinePicture_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("existing file") << "picture.png" << true;
    QTest::newRow("-psn argument") << "-psn_0_12345" << false;
    QTest::newRow("missing file") << "missing.png" << false;
    QTest::newRow("folder") << "." << false;
  }
  void commandLinePicture() {
    QFETCH(QString, argument);
    QFETCH(bool, loaded);
    QTemporaryDir dir;
    WritePatternPng(dir.path(), "picture.png", 320, 240);
    MainWindow::Options o;
    o.arguments << (argument.startsWith("-") ? argument : QDir(dir.path()).filePath(argument));
    auto w = MakeWindow(o);
    QCOMPARE(bool(w->driver().VIrImage), loaded);
    QCOMPARE(w->sourceFileName().isEmpty(), !loaded);
    QVERIFY(OpenMessages(w.get()).isEmpty());
    if (loaded) {
      QCOMPARE(w->driver().VIrImage.width(), 320);
      QVERIFY(!w->workspace()->dropZone()->isVisible());
      QCOMPARE(w->history().Count(), 1);
    }
  }

  void applyRunsWatercolor() {
    if (!FindEffectProc(300)) QSKIP("Watercolor's routine is not part of this build");
    QTemporaryDir dir;
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir.path(), "p.png", 240, 160)));
    Image before = w->driver().VIrImage;
    QSignalSpy ended(w.get(), &MainWindow::fullRunFinished);
    QTest::mouseClick(w->effectPanel()->applyButton(), Qt::LeftButton);
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 120000));
    QCOMPARE(ended[0][0].toInt(), 300);
    QCOMPARE(ended[0][1].toInt(), int(EffectHost::Outcome::Succeeded));
    QVERIFY(w->driver().VIrImage != before);
    QCOMPARE(w->history().Count(), 2);
  }

  void applyRunsTheEffectPickedInTheList() {
    QTemporaryDir dir;
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir.path(), "p.png", 240, 160)));
    ClickEffect(*w, 100);
    Image before = w->driver().VIrImage;
    QSignalSpy ended(w.get(), &MainWindow::fullRunFinished);
    QTest::mouseClick(w->effectPanel()->applyButton(), Qt::LeftButton);
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 60000));
    QCOMPARE(ended[0][0].toInt(), 100);
    QCOMPARE(ended[0][1].toInt(), int(EffectHost::Outcome::Succeeded));
    QVERIFY(w->driver().VIrImage != before);
    QCOMPARE(w->driver().VIrImage.width(), 240);
    QCOMPARE(w->driver().VIrSourceImage, before);
    QCOMPARE(w->history().Count(), 2);
  }
};

LQ_STUDIO_TEST(TestStartup)

}  // namespace lq::studio::test

#include "startup_test.moc"
