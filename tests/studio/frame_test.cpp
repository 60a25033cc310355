// The window frame: the program's maximised state across screens, moving by
// the title bar, resizing by the edges, and scrolling labels.
#include <QScreen>
#include <QWindow>

#include "tests/studio/studio_test.h"
#include "ui/main/marquee_label.h"
#include "ui/main/theme.h"
#include "ui/main/title_bar.h"

namespace lq::studio::test {

namespace {

QScreen* ScreenNamed(const QString& name) {
  for (QScreen* s : QGuiApplication::screens())
    if (s->name() == name) return s;
  return nullptr;
}

EdgeStrip* Strip(MainWindow& w, int tag) {
  for (EdgeStrip* s : w.findChildren<EdgeStrip*>())
    if (s->tag() == tag) return s;
  return nullptr;
}

void Send(QWidget* target, QEvent::Type type, QPointF global, Qt::MouseButtons buttons) {
  QPointF local = target->mapFromGlobal(global);
  Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, local, global, b, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &e);
}

}  // namespace

class TestFrame : public QObject {
  Q_OBJECT

 private slots:
  void startsNinetyEightPercentOfTheScreen() {
    MainWindow w(MainWindow::Options{});
    QScreen* s = QGuiApplication::primaryScreen();
    QCOMPARE(w.width(), int(std::lround(s->geometry().width() * 0.98)));
    QCOMPARE(w.height(), int(std::lround(s->geometry().height() * 0.98)));
    QCOMPARE(w.geometry().center().x(), s->availableGeometry().center().x());
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w.minimumSize(), QSize(1080, 768));
  }

  void maximiseFillsTheWorkAreaAndRestores() {
    auto w = MakeWindow();
    w->setGeometry(100, 80, 1200, 800);
    const QRect before = w->geometry();
    w->ToggleMaximised();
    QVERIFY(w->isCustomMaximized());
    QCOMPARE(w->geometry(), w->screen()->availableGeometry());
    QVERIFY(!Strip(*w, 1)->isVisible());
    // Double-clicking the title bar leaves the state again.
    QTest::mouseDClick(w->titleBar(), Qt::LeftButton, {}, QPoint(400, 20));
    QVERIFY(!w->isCustomMaximized());
    QCOMPARE(w->geometry(), before);
    QVERIFY(Strip(*w, 1)->isVisible());
    QCOMPARE(w->bodyFill(), theme::Argb(theme::kBody));
  }

  void maximisedWindowFollowsItsScreen() {
    QScreen* right = ScreenNamed("right");
    if (!right) QSKIP("the second offscreen screen is not configured");
    auto w = MakeWindow();
    w->ToggleMaximised();
    w->CheckMonitor();  // remembers the first screen
    // Dragged onto the other screen, it fills that screen's work area.
    w->move(right->geometry().topLeft() + QPoint(30, 30));
    QVERIFY(WaitUntil([&] { return w->screen() == right; }, 2000));
    w->CheckMonitor();  // what the 500 ms watch does
    QCOMPARE(w->geometry(), right->availableGeometry());
  }

  void pressAndQuickReleaseDoesNotMove() {
    auto w = MakeWindow();
    const QRect before = w->geometry();
    TitleBar* tb = w->titleBar();
    QPointF g = tb->mapToGlobal(QPointF(300, 20));
    Send(tb, QEvent::MouseButtonPress, g, Qt::LeftButton);
    QCOMPARE(w->bodyFill(), theme::Argb(theme::kBodyMoving));
    QTest::qWait(60);
    Send(tb, QEvent::MouseButtonRelease, g, Qt::NoButton);
    QTest::qWait(300);
    QCOMPARE(w->geometry(), before);
    QCOMPARE(w->bodyFill(), theme::Argb(theme::kBody));
  }

  void pressAndHoldMovesTheWindow() {
    auto w = MakeWindow();
    w->move(100, 100);
    TitleBar* tb = w->titleBar();
    QPointF g = tb->mapToGlobal(QPointF(300, 20));
    Send(tb, QEvent::MouseButtonPress, g, Qt::LeftButton);
    QTest::qWait(300);  // past the 200 ms hold
    // Without a window manager to take over, the window follows the pointer.
    Send(tb, QEvent::MouseMove, g + QPointF(40, 25), Qt::LeftButton);
    Send(tb, QEvent::MouseButtonRelease, g + QPointF(40, 25), Qt::NoButton);
    QCOMPARE(w->pos(), QPoint(140, 125));
    QCOMPARE(w->bodyFill(), theme::Argb(theme::kBody));
  }

  void edgesResize_data() {
    QTest::addColumn<int>("tag");
    QTest::addColumn<QPoint>("drag");
    QTest::addColumn<QRect>("expected");
    const QRect start(100, 100, 1200, 800);
    QTest::newRow("top up") << 1 << QPoint(0, -50) << start.adjusted(0, -50, 0, 0);
    QTest::newRow("bottom down") << 2 << QPoint(0, 60) << start.adjusted(0, 0, 0, 60);
    QTest::newRow("left out") << 3 << QPoint(-70, 0) << start.adjusted(-70, 0, 0, 0);
    QTest::newRow("right out") << 4 << QPoint(45, 0) << start.adjusted(0, 0, 45, 0);
    // Not below the minimum size; the opposite edge stays put.
    QTest::newRow("left too far in") << 3 << QPoint(500, 0) << QRect(220, 100, 1080, 800);
    QTest::newRow("bottom too far up") << 2 << QPoint(0, -300) << QRect(100, 100, 1200, 768);
  }
  void edgesResize() {
    QFETCH(int, tag);
    QFETCH(QPoint, drag);
    QFETCH(QRect, expected);
    auto w = MakeWindow();
    w->setGeometry(100, 100, 1200, 800);
    EdgeStrip* s = Strip(*w, tag);
    QVERIFY(s && s->isVisible());
    QPointF g = s->mapToGlobal(QPointF(s->rect().center()));
    Send(s, QEvent::MouseButtonPress, g, Qt::LeftButton);
    Send(s, QEvent::MouseMove, g + QPointF(drag), Qt::LeftButton);
    Send(s, QEvent::MouseButtonRelease, g + QPointF(drag), Qt::NoButton);
    QCOMPARE(w->geometry(), expected);
  }

  void labelScrollsOnlyWhenTooWide() {
    QWidget host;
    MarqueeLabel label("Edge intensity of the strokes", &host);
    host.show();
    const int text = int(std::ceil(label.TextWidth()));
    label.setGeometry(0, 0, text + 2, 20);
    QVERIFY(!label.IsScrolling());
    // 30 units too wide: 60 ticks wait, 20 ticks scroll, 60 wait, jump back.
    label.setGeometry(0, 0, int(label.TextWidth() - 30), 20);
    const double range = label.TextWidth() - label.width();
    QVERIFY(label.IsScrolling());
    for (int i = 0; i < MarqueeLabel::kWaitTicks; ++i) label.Tick();
    QCOMPARE(label.phase(), MarqueeLabel::Phase::Scrolling);
    int ticks = 0;
    while (label.phase() == MarqueeLabel::Phase::Scrolling && ticks < 1000) {
      label.Tick();
      ++ticks;
    }
    QCOMPARE(ticks, int(std::ceil(range / MarqueeLabel::kStep)));
    QCOMPARE(label.scrollPos(), range);
    for (int i = 0; i < MarqueeLabel::kWaitTicks; ++i) label.Tick();
    QCOMPARE(label.phase(), MarqueeLabel::Phase::WaitStart);
    QCOMPARE(label.scrollPos(), 0.0);
    label.Teardown();
    QVERIFY(!label.IsScrolling());
  }

  void headerScrollsOnlyBeyondFourteen_data() {
    QTest::addColumn<int>("excess");
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("fits") << 0 << false;
    QTest::newRow("10 too wide is cut") << 10 << false;
    QTest::newRow("20 too wide scrolls") << 20 << true;
  }
  void headerScrollsOnlyBeyondFourteen() {
    QFETCH(int, excess);
    QFETCH(bool, scrolls);
    QWidget host;
    MarqueeLabel header("Sketch & Drawing", &host, MarqueeLabel::Kind::Header);
    host.show();
    header.setGeometry(0, 0, int(std::ceil(header.TextWidth())) - excess, 25);
    QCOMPARE(header.IsScrolling(), scrolls);
  }
};

LQ_STUDIO_TEST(TestFrame)

}  // namespace lq::studio::test

#include "frame_test.moc"
