// Pictures in and out of the window: a broken file, loading, the save
// dialog's suggestions, saving, drag and drop, the clipboard, the built-in
// photograph.
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>

#include "document/imagefile.h"
#include "tests/studio/studio_test.h"
#include "ui/main/effect_panel.h"
#include "ui/main/save_dialog.h"
#include "ui/main/workspace_view.h"

namespace lq::studio::test {

class TestFiles : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<ScopedEffect> effect_;

 private slots:
  void init() {
    // Previews stay quick and observable whatever effects this build has.
    effect_ = std::make_unique<ScopedEffect>(300, &SlowEffect::Proc);
    SlowEffect::Reset(1, 1);
  }
  void cleanup() { effect_.reset(); }

  void brokenFileKeepsThePreviousPicture_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("not a picture") << QByteArray("hello, this is text");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated JPEG") << QByteArray::fromHex("FFD8FFE000104A46494600010100000100010000FFDB0043");
  }
  void brokenFileKeepsThePreviousPicture() {
    QFETCH(QByteArray, bytes);
    auto w = MakeWindow();
    QString good = WritePatternPng(dir_.path(), "good.png", 300, 200);
    QVERIFY(w->LoadLargeImage(good));
    w->SetSplitView(true);
    w->SetPreviewZoom(2.0f);
    const Image before = w->driver().VIrImage;
    const int entries = w->history().Count();
    QString broken = QDir(dir_.path()).filePath("broken.jpg");
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QVERIFY(!w->LoadLargeImage(broken));
    QCOMPARE(OpenMessages(w.get()), QStringList({"Failed to load image: " + broken}));
    QCOMPARE(w->driver().VIrImage, before);
    QCOMPARE(w->driver().VIrSourceImage, before);
    QCOMPARE(w->sourceFileName(), good);
    QCOMPARE(w->previewZoom(), 2.0f);
    QVERIFY(w->workspace()->splitView());
    QCOMPARE(w->history().Count(), entries);
    CloseMessages(w.get());
  }

  void loadingResetsTheView() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "a.png", 300, 200)));
    w->SetSplitView(true);
    w->SetPreviewZoom(3.0f);
    w->workspace()->ZoomIn();
    QString b = WritePatternPng(dir_.path(), "b.png", 500, 320);
    QVERIFY(w->LoadLargeImage(b));
    EffectDriver& d = w->driver();
    QCOMPARE(d.VIrImage, d.VIrSourceImage);
    QCOMPARE(d.VIrImage.width(), 500);
    QCOMPARE(w->sourceFileName(), b);
    QCOMPARE(w->previewZoom(), 1.0f);
    QVERIFY(!w->workspace()->splitView());
    QCOMPARE(w->workspace()->zoomFactor(), 1.0f);
    QCOMPARE(d.PreviewStartX.load(), 150);
    QCOMPARE(d.PreviewStartY.load(), 60);
    QCOMPARE(w->history().Count(), 2);
  }

  void saveDialogSuggestsTheName_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::newRow("BMP becomes PNG") << "pictures/cat.BMP"
                                     << "cat_LQ.png"
                                     << "PNG Image (*.png)";
    QTest::newRow("JPEG keeps its extension") << "pictures/dog.jpeg"
                                              << "dog_LQ.jpeg"
                                              << "JPEG Image (*.jpg *.jpeg)";
    QTest::newRow("upper-case JPG") << "pictures/IMG_0001.JPG"
                                    << "IMG_0001_LQ.jpg"
                                    << "JPEG Image (*.jpg *.jpeg)";
    QTest::newRow("no source file") << ""
                                    << "Lumaquill_image.png"
                                    << "PNG Image (*.png)";
  }
  void saveDialogSuggestsTheName() {
    QFETCH(QString, source);
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QDir(dir_.path()).mkpath("pictures");
    QString full = source.isEmpty() ? QString() : QDir(dir_.path()).filePath(source);
    QFileDialog* dlg = MakeSaveDialog(nullptr, full);
    QCOMPARE(dlg->windowTitle(), QString("Save image file"));
    QCOMPARE(dlg->nameFilters(),
             QStringList({"JPEG Image (*.jpg *.jpeg)", "PNG Image (*.png)", "WebP Image (*.webp)", "All Files (*)"}));
    QCOMPARE(dlg->defaultSuffix(), QString("jpg"));
    QCOMPARE(dlg->selectedNameFilter(), filter);
    QCOMPARE(QFileInfo(dlg->selectedFiles().value(0)).fileName(), name);
    if (!full.isEmpty()) QCOMPARE(dlg->directory().absolutePath(), QFileInfo(full).absolutePath());
    delete dlg;
  }

  void saveButtonOpensTheDialogForTheResult() {
    auto w = MakeWindow();
    w->SaveImageFile();  // nothing to save yet
    QVERIFY(!w->findChild<QFileDialog*>("saveDialog"));
    QString bmp = QDir(dir_.path()).filePath("shot.bmp");
    QVERIFY(QImage(60, 40, QImage::Format_RGB32).save(bmp, "BMP"));
    QVERIFY(w->LoadLargeImage(bmp));
    w->SaveImageFile();
    auto* dlg = w->findChild<QFileDialog*>("saveDialog");
    QVERIFY(dlg);
    QCOMPARE(QFileInfo(dlg->selectedFiles().value(0)).fileName(), QString("shot_LQ.png"));
    dlg->reject();
  }

  void saveWritesOrReports_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("png") << "x.png" << "";
    QTest::newRow("jpeg, any case") << "x.JPG" << "";
    QTest::newRow("webp") << "x.webp" << "";
    QTest::newRow("tif") << "x.tif" << "Error saving image: Invalid extension";
    QTest::newRow("missing folder") << "no/such/folder/x.png" << "Error saving image: ";
  }
  void saveWritesOrReports() {
    QFETCH(QString, name);
    QFETCH(QString, message);
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "a.png", 64, 48)));
    QString path = QDir(dir_.path()).filePath(name);
    bool ok = w->SaveImageTo(path);
    QCOMPARE(ok, message.isEmpty());
    if (ok) {
      Image back = ReadImageFile(QFile::encodeName(path).toStdString());
      QCOMPARE(back.width(), 64);
      QCOMPARE(back.height(), 48);
      QVERIFY(OpenMessages(w.get()).isEmpty());
    } else {
      QVERIFY(!QFile::exists(path));
      QStringList shown = OpenMessages(w.get());
      QCOMPARE(shown.size(), 1);
      QVERIFY2(shown[0].startsWith(message), qPrintable(shown[0]));
      CloseMessages(w.get());
    }
  }

  void dropTakesTheFirstAcceptedFile() {
    auto w = MakeWindow();
    QString text = QDir(dir_.path()).filePath("notes.txt");
    QFile t(text);
    QVERIFY(t.open(QIODevice::WriteOnly));
    t.write("not a picture");
    t.close();
    QString png = WritePatternPng(dir_.path(), "Photo.PNG", 90, 60);
    QString missing = QDir(dir_.path()).filePath("gone.jpg");
    QMimeData onlyText;
    onlyText.setUrls({QUrl::fromLocalFile(text)});
    QVERIFY(!w->AcceptsDrop(&onlyText));
    QVERIFY(!w->DropFiles(onlyText.urls()));
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(text), QUrl::fromLocalFile(missing), QUrl::fromLocalFile(png)});
    QVERIFY(w->AcceptsDrop(&mixed));
    QVERIFY(w->DropFiles(mixed.urls()));
    QCOMPARE(w->sourceFileName(), png);
    QCOMPARE(w->driver().VIrImage.width(), 90);
  }

  void clipboardRoundTrip() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "a.png", 70, 50)));
    const Image copied = w->driver().VIrImage;
    w->CopyToClipboard();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "b.png", 30, 20)));
    const int entries = w->history().Count();
    QVERIFY(w->PasteFromClipboard());
    EffectDriver& d = w->driver();
    QCOMPARE(d.VIrImage.width(), 70);
    QCOMPARE(d.VIrSourceImage.height(), 50);
    QVERIFY(d.VIrImage != d.VIrSourceImage);  // two separate pictures
    ConstPixelView a = copied.PeekPixels(), r = d.VIrImage.PeekPixels(), s = d.VIrSourceImage.PeekPixels();
    for (int y = 0; y < 50; y += 7)
      for (int x = 0; x < 70; x += 9) {
        QCOMPARE(r.at(x, y), a.at(x, y));
        QCOMPARE(s.at(x, y), a.at(x, y));
      }
    QVERIFY(w->sourceFileName().isEmpty());
    QCOMPARE(w->history().Count(), entries + 1);
    // Text on the clipboard changes nothing.
    QGuiApplication::clipboard()->setText("words");
    QVERIFY(!w->PasteFromClipboard());
    QCOMPARE(w->history().Count(), entries + 1);
  }

  void builtInPhotograph() {
    auto w = MakeWindow();
    QVERIFY(w->LoadLargeImage(WritePatternPng(dir_.path(), "a.png", 70, 50)));
    QVERIFY(w->LoadLargeImageFromTImage());
    EffectDriver& d = w->driver();
    QCOMPARE(d.VIrImage.width(), 600);
    QCOMPARE(d.VIrImage.height(), 400);
    QVERIFY(w->sourceFileName().isEmpty());
    // Fitted to the workspace; the preview shows the middle of the picture.
    QVERIFY(w->workspace()->zoomFactor() != 1.0f || d.VIrImage.width() <= w->workspace()->width());
    QCOMPARE(d.PreviewStartX.load(), 190);
    QCOMPARE(d.PreviewStartY.load(), 90);
    QCOMPARE(w->history().Count(), 2);
  }
};

LQ_STUDIO_TEST(TestFiles)

}  // namespace lq::studio::test

#include "files_test.moc"
