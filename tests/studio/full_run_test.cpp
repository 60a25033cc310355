// A full run: the progress pill, the history entry, Escape, the busy
// message, and pictures that cannot change under a running effect.
#include <QClipboard>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "tests/studio/studio_test.h"
#include "ui/main/effect_panel.h"
#include "ui/main/title_bar.h"
#include "ui/main/toggle_switch.h"
#include "ui/main/view_math.h"
#include "ui/main/workspace_view.h"

namespace lq::studio::test {

class TestFullRun : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<ScopedEffect> effect_;
  std::unique_ptr<MainWindow> w_;
  QString file_;

 private slots:
  void init() {
    effect_ = std::make_unique<ScopedEffect>(300, &SlowEffect::Proc);
    SlowEffect::Reset(1, 1);
    w_ = MakeWindow();
    file_ = WritePatternPng(dir_.path(), "p.png", 400, 300);
    QVERIFY(w_->LoadLargeImage(file_));
    QVERIFY(WaitUntil([&] { return !w_->updatePreviewTimer().isActive() && w_->driver().ActiveWorkers() == 0; }));
  }
  void cleanup() {
    w_.reset();
    effect_.reset();
  }

  void showsThePillAndEndsWithAHistoryEntry() {
    // Without the texture overlay the result is exactly the effect's.
    QTest::mouseClick(w_->effectPanel()->textureSwitch(), Qt::LeftButton);
    QVERIFY(!w_->effectPanel()->textureSwitch()->isOn());
    SlowEffect::Reset(40, 40);
    ProgressPill* pill = w_->titleBar()->pill();
    QVERIFY(!pill->isVisible());
    Image source = w_->driver().VIrSourceImage;
    QSignalSpy ended(w_.get(), &MainWindow::fullRunFinished);
    QTest::mouseClick(w_->effectPanel()->applyButton(), Qt::LeftButton);
    QVERIFY(WaitUntil([&] { return pill->isVisible() && pill->value() >= 30; }, 10000));
    const int shown = pill->value();
    QCOMPARE(pill->targetWidth(), ProgressPillWidth(w_->titleBar()->width(), shown));
    QCOMPARE(pill->labelShown(), pill->targetWidth() >= kPillLabelMinWidth);
    QCOMPARE(pill->labelText(), QString::number(shown) + "%");
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 30000));
    QCOMPARE(ended[0][1].toInt(), int(EffectHost::Outcome::Succeeded));
    QVERIFY(!pill->isVisible());
    QCOMPARE(w_->history().Count(), 2);
    QCOMPARE(w_->driver().VIrSourceImage, source);
    // The result is the source tinted red; undo brings the photograph back.
    auto red = [](const Image& img) { return int((img.PeekPixels().at(0, 0) >> 16) & 0xFF); };
    QCOMPARE(red(source), 0);
    QVERIFY(std::abs(red(w_->driver().VIrImage) - 128) <= 1);
    w_->Undo();
    QCOMPARE(w_->driver().VIrImage.width(), 400);
    QVERIFY(red(w_->driver().VIrImage) < 12);
  }

  void textureSwitchDecidesTheOverlay() {
    if (!w_->driver().TextureStep || !w_->driver().StoredTextureBitmap)
      QSKIP("this build has no texture overlay");
    QSignalSpy ended(w_.get(), &MainWindow::fullRunFinished);
    QVERIFY(w_->effectPanel()->textureSwitch()->isOn());
    w_->ApplyEffect();
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 20000));
    const Image textured = w_->driver().VIrImage;
    QTest::mouseClick(w_->effectPanel()->textureSwitch(), Qt::LeftButton);
    QVERIFY(w_->updatePreviewTimer().isActive());  // the preview follows the switch
    w_->ApplyEffect();
    QVERIFY(WaitUntil([&] { return ended.count() == 2; }, 20000));
    const Image plain = w_->driver().VIrImage;
    int differing = 0;
    for (int y = 0; y < 300; y += 10)
      for (int x = 0; x < 400; x += 10) differing += textured.PeekPixels().at(x, y) != plain.PeekPixels().at(x, y);
    QVERIFY(differing > 100);
  }

  void escapeCancels() {
    SlowEffect::Reset(400, 20);
    Image before = w_->driver().VIrImage;
    QSignalSpy ended(w_.get(), &MainWindow::fullRunFinished);
    w_->ApplyEffect();
    QVERIFY(WaitUntil([&] { return SlowEffect::lastPercent.load() > 0; }));
    QElapsedTimer t;
    t.start();
    QTest::keyClick(w_.get(), Qt::Key_Escape);
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 5000));
    QVERIFY(t.elapsed() < 3000);
    QCOMPARE(ended[0][1].toInt(), int(EffectHost::Outcome::Aborted));
    QCOMPARE(SlowEffect::finished.load(), 0);
    QCOMPARE(w_->driver().VIrImage, before);
    QVERIFY(!w_->driver().IsEffectRunning());
    QVERIFY(!w_->titleBar()->pill()->isVisible());
    // The next run starts afresh.
    SlowEffect::Reset(1, 1);
    w_->ApplyEffect();
    QVERIFY(WaitUntil([&] { return ended.count() == 2; }, 10000));
    QCOMPARE(ended[1][1].toInt(), int(EffectHost::Outcome::Succeeded));
  }

  void secondApplyNamesTheRunningEffect() {
    SlowEffect::Reset(100, 20);
    QSignalSpy ended(w_.get(), &MainWindow::fullRunFinished);
    w_->ApplyEffect();
    w_->ApplyEffect();
    QCOMPARE(OpenMessages(w_.get()), QStringList({"Please wait for \"Watercolor\" to finish processing."}));
    CloseMessages(w_.get());
    w_->CancelRun();
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 10000));
  }

  void picturesStayWhileARunIsActive_data() {
    QTest::addColumn<QString>("command");
    for (const char* c : {"drop", "paste", "rotate left", "rotate right", "swap", "crop", "undo", "open",
                          "default image"})
      QTest::newRow(c) << QString(c);
  }
  void picturesStayWhileARunIsActive() {
    QFETCH(QString, command);
    // Something to paste and to undo to.
    QGuiApplication::clipboard()->setImage(QImage(50, 40, QImage::Format_ARGB32_Premultiplied));
    QString other = WritePatternPng(dir_.path(), "other.png", 120, 90);
    QVERIFY(w_->RotateImage(true));
    SlowEffect::Reset(30, 20);
    const Image source = w_->driver().VIrSourceImage;
    const Image result = w_->driver().VIrImage;
    const int entries = w_->history().Count();
    QSignalSpy ended(w_.get(), &MainWindow::fullRunFinished);
    w_->ApplyEffect();
    QVERIFY(w_->driver().IsEffectRunning());
    if (command == "drop") {
      QMimeData mime;
      mime.setUrls({QUrl::fromLocalFile(other)});
      QVERIFY(!w_->AcceptsDrop(&mime));
      QVERIFY(!w_->DropFiles(mime.urls()));
    } else if (command == "paste") {
      QVERIFY(!w_->PasteFromClipboard());
    } else if (command == "rotate left") {
      QTest::keyClick(w_.get(), Qt::Key_L);
    } else if (command == "rotate right") {
      QTest::keyClick(w_.get(), Qt::Key_R);
    } else if (command == "swap") {
      QTest::keyClick(w_.get(), Qt::Key_F12);
    } else if (command == "crop") {
      w_->StartCrop();
      QVERIFY(!w_->workspace()->cropping());
    } else if (command == "undo") {
      QTest::keyClick(w_.get(), Qt::Key_Z, Qt::ControlModifier);
    } else if (command == "open") {
      QVERIFY(!w_->LoadLargeImage(other));
    } else if (command == "default image") {
      QVERIFY(!w_->LoadLargeImageFromTImage());
    }
    QCOMPARE(w_->driver().VIrSourceImage, source);
    QCOMPARE(w_->driver().VIrImage, result);
    QCOMPARE(w_->sourceFileName(), file_);
    QVERIFY(WaitUntil([&] { return ended.count() == 1; }, 20000));
    // The result belongs to the picture the run started from.
    QCOMPARE(ended[0][1].toInt(), int(EffectHost::Outcome::Succeeded));
    QCOMPARE(w_->driver().VIrSourceImage, source);
    QCOMPARE(w_->history().Count(), entries + 1);
    QVERIFY(OpenMessages(w_.get()).isEmpty());
  }
};

LQ_STUDIO_TEST(TestFullRun)

}  // namespace lq::studio::test

#include "full_run_test.moc"
