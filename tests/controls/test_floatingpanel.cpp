#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"
#include "controls/OutlineOverlay.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform can neither shape nor raise windows and says so for every outline.
void dropPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    previousHandler(type, context, message);
}

// Rectangles as the drawing rules state them: right and bottom lie outside.
QRect ltrb(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

QPalette::ColorRole roleAt(const QImage& image, const QPalette& palette, int x, int y)
{
    const QRgb pixel = image.pixel(x, y);
    for (const QPalette::ColorRole role : {QPalette::Button, QPalette::Light, QPalette::Dark}) {
        if (palette.color(role).rgb() == pixel)
            return role;
    }
    return QPalette::NoRole;
}

TOutlineOverlay* visibleOutline()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* overlay = qobject_cast<TOutlineOverlay*>(widget);
        if (overlay && overlay->isVisible())
            return overlay;
    }
    return nullptr;
}

Qt::CursorShape currentOverride()
{
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

// A parent area with a docked panel and a client widget that takes the rest, the way the
// main window holds its chat column; the panel also holds a client child of its own.
struct DockedPanel
{
    explicit DockedPanel(TAlign align, QSize area = {565, 355}, int extent = 165)
    {
        container.resize(area);
        auto* dock = new TDockLayout(&container);
        panel = new TFloatingPanel(&container);
        panel->SetBevel(false);
        panel->SetResizeBar(true);
        panel->resize(extent, extent);
        dock->addWidget(panel, align);
        client = new QWidget(&container);
        dock->addWidget(client, alClient);
        inner = new QWidget(panel);
        panel->ChildLayout()->addWidget(inner, alClient);
        container.show();
        dock->activate();
    }

    QWidget container;
    TFloatingPanel* panel;
    QWidget* client;
    QWidget* inner;
};

// Records the panel's events in order.
struct EventLog
{
    explicit EventLog(TFloatingPanel* panel)
    {
        QObject::connect(panel, &TFloatingPanel::OnShow, &context, [this] { events << "show"; });
        QObject::connect(panel, &TFloatingPanel::OnHide, &context, [this] { events << "hide"; });
        QObject::connect(panel, &TFloatingPanel::OnFloat, &context, [this] { events << "float"; });
        QObject::connect(panel, &TFloatingPanel::OnDefloat, &context, [this] { events << "defloat"; });
        QObject::connect(panel, &TFloatingPanel::OnSplit, &context, [this] { events << "split"; });
    }
    QObject context; // ends the connections with the log
    QStringList events;
};

} // namespace

class TestFloatingPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void layoutRects_data();
    void layoutRects();
    void mainWindowChildrenStartAfterTheBar();
    void gripPixels_data();
    void gripPixels();
    void barAndCloseBoxPixels();
    void resizeGesture_data();
    void resizeGesture();
    void resizeNeverGivesNegativeSize();
    void noBarWithoutEdgeAlignment_data();
    void noBarWithoutEdgeAlignment();
    void cursorFollowsTheBar_data();
    void cursorFollowsTheBar();
    void floatAndDockEvents();
    void hidePanelWhileFloating();
    void floatAtWhenFloatingOnlyMoves();
    void dockingTakesTheToolWindowSize();
    void floatWithoutParent();
    void closeBoxHidesOnReleaseAnywhere();
    void equalCloseButtonKeepsThePress();
    void closingTheToolWindow();
    void handleClickFloatsInPlace();
    void handleDragShowsThreeOutlines();
    void destroyedWhileFloating();
    void ownerDestroyedWhileFloating();
};

void TestFloatingPanel::initTestCase()
{
    previousHandler = qInstallMessageHandler(dropPlatformNotices);
}

void TestFloatingPanel::cleanup()
{
    // Every gesture and hover must hand the cursor back.
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(visibleOutline(), nullptr);
}

void TestFloatingPanel::layoutRects_data()
{
    QTest::addColumn<int>("align");
    QTest::addColumn<int>("handleType");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<bool>("bevel");
    QTest::addColumn<QRect>("bar");
    QTest::addColumn<QRect>("handle");
    QTest::addColumn<QRect>("close");
    QTest::addColumn<QRect>("child");
    // W = 200, H = 100, ResizeBar on, BarWidth 5.
    const QRect none;
    QTest::newRow("main window layout") << int(alRight) << int(htNone) << int(hoTop) << false << false
                                        << ltrb(0, 0, 5, 100) << none << none << ltrb(6, 1, 199, 99);
    QTest::newRow("single grip on top") << int(alNone) << int(htSingle) << int(hoTop) << false << false << none
                                        << ltrb(2, 2, 198, 6) << none << ltrb(1, 5, 199, 99);
    QTest::newRow("single grip on top, bevel") << int(alNone) << int(htSingle) << int(hoTop) << false << true
                                               << none << ltrb(2, 2, 198, 6) << none << ltrb(2, 6, 198, 98);
    QTest::newRow("close box, single grip") << int(alNone) << int(htSingle) << int(hoTop) << true << false << none
                                            << ltrb(2, 2, 198, 14) << ltrb(187, 2, 198, 14) << ltrb(1, 13, 199, 99);
    QTest::newRow("close box alone") << int(alNone) << int(htNone) << int(hoTop) << true << false << none
                                     << ltrb(2, 2, 198, 14) << ltrb(187, 2, 198, 14) << ltrb(1, 13, 199, 99);
    QTest::newRow("double big grip on the left") << int(alNone) << int(htDoubleBig) << int(hoLeft) << false << false
                                                 << none << ltrb(2, 2, 12, 98) << none << ltrb(11, 1, 199, 99);
    QTest::newRow("top panel, big grip at the bottom") << int(alTop) << int(htBig) << int(hoBottom) << false
                                                       << false << ltrb(0, 95, 200, 100) << ltrb(2, 88, 198, 93)
                                                       << none << ltrb(1, 1, 199, 89);
    QTest::newRow("left panel, grip on the right") << int(alLeft) << int(htSingle) << int(hoRight) << false << false
                                                   << ltrb(195, 0, 200, 100) << ltrb(189, 2, 193, 98) << none
                                                   << ltrb(1, 1, 190, 99);
    QTest::newRow("bottom panel, double grip on top") << int(alBottom) << int(htDouble) << int(hoTop) << false
                                                      << false << ltrb(0, 0, 200, 5) << ltrb(2, 7, 198, 15) << none
                                                      << ltrb(1, 14, 199, 99);
    QTest::newRow("right panel, close box on top") << int(alRight) << int(htSingle) << int(hoTop) << true << false
                                                   << ltrb(0, 0, 5, 100) << ltrb(7, 2, 198, 14)
                                                   << ltrb(187, 2, 198, 14) << ltrb(6, 13, 199, 99);
    QTest::newRow("left panel, close box on the left") << int(alLeft) << int(htSingle) << int(hoLeft) << true
                                                       << false << ltrb(195, 0, 200, 100) << ltrb(2, 2, 14, 98)
                                                       << ltrb(2, 2, 14, 13) << ltrb(13, 1, 194, 99);
    QTest::newRow("client panel has no bar") << int(alClient) << int(htNone) << int(hoTop) << false << false
                                             << none << none << none << ltrb(1, 1, 199, 99);
    QTest::newRow("bevel with a bar") << int(alBottom) << int(htNone) << int(hoTop) << false << true
                                      << ltrb(0, 0, 200, 5) << none << none << ltrb(2, 7, 198, 98);
}

void TestFloatingPanel::layoutRects()
{
    QFETCH(int, align);
    QFETCH(int, handleType);
    QFETCH(int, orientation);
    QFETCH(bool, closeButton);
    QFETCH(bool, bevel);
    QWidget parent;
    TFloatingPanel panel(&parent);
    panel.resize(200, 100);
    panel.SetAlign(TAlign(align));
    panel.SetResizeBar(true);
    panel.SetHandleType(THandleType(handleType));
    panel.SetHandleOrientation(THandleOrientation(orientation));
    panel.SetCloseButton(closeButton);
    panel.SetBevel(bevel);
    QTEST(panel.BarRect(), "bar");
    QTEST(panel.HandleRect(), "handle");
    QTEST(panel.CloseRect(), "close");
    QTEST(panel.ChildRect(), "child");

    auto* child = new QWidget(&panel);
    panel.ChildLayout()->addWidget(child, alClient);
    panel.ChildLayout()->activate();
    QTEST(child->geometry(), "child");
}

void TestFloatingPanel::mainWindowChildrenStartAfterTheBar()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->ChildLayout()->setAlign(area.inner, alNone);
    auto* log = new QWidget(panel);
    auto* input = new QWidget(panel);
    input->resize(10, 59);
    log->show(); // created after the panel was shown
    input->show();
    panel->ChildLayout()->addWidget(log, alClient);
    panel->ChildLayout()->addWidget(input, alBottom);
    panel->ChildLayout()->activate();
    QCOMPARE(panel->geometry(), QRect(400, 0, 165, 355));
    QCOMPARE(panel->BevelRect(), ltrb(5, 0, 165, 355));
    QCOMPARE(log->geometry(), QRect(6, 1, 158, 294));
    QCOMPARE(input->geometry(), QRect(6, 295, 158, 59));
}

void TestFloatingPanel::gripPixels_data()
{
    QTest::addColumn<int>("handleType");
    QTest::addColumn<int>("orientation");
    // Colours across the grip, from its outer edge inwards, starting at offset 2 from the
    // panel's side: B = bevel-free handle at (2, 2).
    QTest::addColumn<QList<int>>("roles");
    const int L = QPalette::Light;
    const int D = QPalette::Dark;
    const int B = QPalette::Button;
    QTest::newRow("single on top: one 3-pixel bar") << int(htSingle) << int(hoTop) << QList<int>{L, B, D, B};
    QTest::newRow("big on top: one 4-pixel bar") << int(htBig) << int(hoTop) << QList<int>{L, B, B, D, B};
    QTest::newRow("double on top: 3 + gap + 3") << int(htDouble) << int(hoTop) << QList<int>{L, B, D, B, L, B, D, B};
    QTest::newRow("double big on top: 4 + gap + 4")
        << int(htDoubleBig) << int(hoTop) << QList<int>{L, B, B, D, B, L, B, B, D, B};
    QTest::newRow("double on the left: 3 + gap + 3")
        << int(htDouble) << int(hoLeft) << QList<int>{L, B, D, B, L, B, D, B};
}

void TestFloatingPanel::gripPixels()
{
    QFETCH(int, handleType);
    QFETCH(int, orientation);
    QFETCH(QList<int>, roles);
    TFloatingPanel panel;
    panel.resize(200, 100);
    panel.SetBevel(false);
    panel.SetHandleType(THandleType(handleType));
    panel.SetHandleOrientation(THandleOrientation(orientation));
    const QImage image = panel.grab().toImage();
    const bool across = orientation == hoTop;
    for (int i = 0; i < roles.size(); ++i) {
        const int x = across ? 50 : 2 + i;
        const int y = across ? 2 + i : 50;
        QCOMPARE(int(roleAt(image, panel.palette(), x, y)), roles[i]);
    }
}

void TestFloatingPanel::barAndCloseBoxPixels()
{
    TFloatingPanel panel;
    panel.resize(165, 355);
    panel.SetAlign(alRight);
    panel.SetResizeBar(true);
    panel.SetBevel(false);
    panel.SetHandleType(htSingle);
    panel.SetCloseButton(true);
    const QPalette& palette = panel.palette();
    QImage image = panel.grab().toImage();
    // Raised bar: light left and top, dark right and bottom, the far corners dark.
    QCOMPARE(roleAt(image, palette, 0, 100), QPalette::Light);
    QCOMPARE(roleAt(image, palette, 2, 100), QPalette::Button);
    QCOMPARE(roleAt(image, palette, 4, 100), QPalette::Dark);
    QCOMPARE(roleAt(image, palette, 2, 0), QPalette::Light);
    QCOMPARE(roleAt(image, palette, 4, 0), QPalette::Dark);
    QCOMPARE(roleAt(image, palette, 0, 354), QPalette::Dark);
    // No bevel: the far edge is plain.
    QCOMPARE(roleAt(image, palette, 164, 100), QPalette::Button);
    // Close box (152, 2, 163, 14), raised.
    QCOMPARE(panel.CloseRect(), ltrb(152, 2, 163, 14));
    QCOMPARE(roleAt(image, palette, 152, 5), QPalette::Light);
    QCOMPARE(roleAt(image, palette, 162, 5), QPalette::Dark);
    // Single grip in (7, 2, 150, 14) at d = 4: rows 6 to 8.
    QCOMPARE(roleAt(image, palette, 60, 6), QPalette::Light);
    QCOMPARE(roleAt(image, palette, 60, 8), QPalette::Dark);
    QCOMPARE(roleAt(image, palette, 60, 5), QPalette::Button);

    QTest::mousePress(&panel, Qt::LeftButton, {}, QPoint(157, 8));
    image = panel.grab().toImage();
    QCOMPARE(roleAt(image, palette, 152, 5), QPalette::Dark);
    QCOMPARE(roleAt(image, palette, 162, 5), QPalette::Light);
    QTest::mouseRelease(&panel, Qt::LeftButton, {}, QPoint(157, 8));

    panel.SetBevel(true);
    panel.show();
    image = panel.grab().toImage();
    QCOMPARE(roleAt(image, palette, 164, 100), QPalette::Dark);
    QCOMPARE(roleAt(image, palette, 5, 100), QPalette::Light);
}

void TestFloatingPanel::resizeGesture_data()
{
    QTest::addColumn<int>("align");
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("extent");
    // The parent is 565 x 355; the panel starts 165 wide or high.
    QTest::newRow("right: press on x = 5, no move") << int(alRight) << QPoint(5, 100) << QPoint(5, 100) << 165;
    QTest::newRow("right: far left gives the full width") << int(alRight) << QPoint(5, 100) << QPoint(-2000, 90) << 565;
    QTest::newRow("right: far right leaves the bar") << int(alRight) << QPoint(5, 100) << QPoint(2000, 100) << 5;
    QTest::newRow("right: 35 to the left") << int(alRight) << QPoint(2, 100) << QPoint(-33, 300) << 200;
    QTest::newRow("left: 30 to the right") << int(alLeft) << QPoint(162, 50) << QPoint(192, 50) << 195;
    QTest::newRow("left: far left leaves the bar") << int(alLeft) << QPoint(162, 50) << QPoint(-900, 50) << 5;
    QTest::newRow("top: far down gives the full height") << int(alTop) << QPoint(50, 161) << QPoint(50, 900) << 355;
    QTest::newRow("top: 40 up") << int(alTop) << QPoint(50, 161) << QPoint(80, 121) << 125;
    QTest::newRow("bottom: 20 up") << int(alBottom) << QPoint(50, 0) << QPoint(50, -20) << 185;
    QTest::newRow("bottom: far down leaves the bar") << int(alBottom) << QPoint(50, 3) << QPoint(50, 900) << 5;
}

void TestFloatingPanel::resizeGesture()
{
    QFETCH(int, align);
    QFETCH(QPoint, press);
    QFETCH(QPoint, release);
    QFETCH(int, extent);
    DockedPanel area{TAlign(align)};
    TFloatingPanel* panel = area.panel;
    QSignalSpy split(panel, &TFloatingPanel::OnSplit);
    const bool horizontal = align == alLeft || align == alRight;
    const QRect bar = panel->BarRect();
    const QRect barOnScreen(panel->mapToGlobal(bar.topLeft()), bar.size());

    QTest::mousePress(panel, Qt::LeftButton, {}, press);
    QCOMPARE(currentOverride(), horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor);
    QVERIFY(visibleOutline());
    QCOMPARE(visibleOutline()->Outline(), barOnScreen);

    QTest::mouseMove(panel, release);
    const QRect shown = visibleOutline()->Outline();
    QCOMPARE(shown.size(), bar.size());
    // The outline never leaves the parent's area.
    QVERIFY(QRect(area.container.mapToGlobal(QPoint(0, 0)), area.container.size()).contains(shown));
    QCOMPARE(horizontal ? shown.y() : shown.x(), horizontal ? barOnScreen.y() : barOnScreen.x());
    QCOMPARE(split.count(), 0);

    QTest::mouseRelease(panel, Qt::LeftButton, {}, release);
    QCOMPARE(split.count(), 1);
    QCOMPARE(horizontal ? panel->width() : panel->height(), extent);
    // The client widget takes exactly what the panel leaves.
    const int clientExtent = horizontal ? area.client->width() : area.client->height();
    QCOMPARE(clientExtent, (horizontal ? 565 : 355) - extent);
}

void TestFloatingPanel::resizeNeverGivesNegativeSize()
{
    // Another right-aligned widget sits against the edge, so the bar can travel further
    // than the panel is wide.
    QWidget container;
    container.resize(565, 355);
    auto* dock = new TDockLayout(&container);
    auto* outer = new QWidget(&container);
    outer->resize(100, 10);
    dock->addWidget(outer, alRight);
    auto* panel = new TFloatingPanel(&container);
    panel->SetResizeBar(true);
    panel->resize(165, 355);
    dock->addWidget(panel, alRight);
    container.show();
    dock->activate();
    QCOMPARE(panel->geometry(), QRect(300, 0, 165, 355));

    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(2, 10));
    QTest::mouseMove(panel, QPoint(1000, 10));
    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(1000, 10));
    QCOMPARE(panel->width(), 0);
    QCOMPARE(outer->geometry(), QRect(465, 0, 100, 355));
}

void TestFloatingPanel::noBarWithoutEdgeAlignment_data()
{
    QTest::addColumn<int>("align");
    QTest::newRow("alClient") << int(alClient);
    QTest::newRow("alNone") << int(alNone);
}

void TestFloatingPanel::noBarWithoutEdgeAlignment()
{
    QFETCH(int, align);
    DockedPanel area(TAlign(align), {400, 300}, 200);
    TFloatingPanel* panel = area.panel;
    QSignalSpy split(panel, &TFloatingPanel::OnSplit);
    panel->raise(); // over the other client widget, so hovering reaches it
    const QSize before = panel->size();
    QCOMPARE(panel->BarRect(), QRect());
    QCOMPARE(roleAt(panel->grab().toImage(), panel->palette(), 0, 100), QPalette::Button);

    QTest::mouseMove(panel, QPoint(2, 100));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(2, 100));
    QCOMPARE(visibleOutline(), nullptr);
    QTest::mouseMove(panel, QPoint(50, 100));
    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(50, 100));
    QCOMPARE(split.count(), 0);
    QCOMPARE(panel->size(), before);
}

void TestFloatingPanel::cursorFollowsTheBar_data()
{
    QTest::addColumn<int>("align");
    QTest::addColumn<QPoint>("onBar");
    QTest::addColumn<QPoint>("offBar");
    QTest::addColumn<int>("shape");
    // The 165-pixel panel; its child starts one pixel inside the bar's far edge.
    QTest::newRow("right, x = 0") << int(alRight) << QPoint(0, 100) << QPoint(100, 0) << int(Qt::SizeHorCursor);
    QTest::newRow("right, x = 5 by the inclusive edge")
        << int(alRight) << QPoint(5, 200) << QPoint(164, 100) << int(Qt::SizeHorCursor);
    QTest::newRow("left") << int(alLeft) << QPoint(161, 100) << QPoint(0, 100) << int(Qt::SizeHorCursor);
    QTest::newRow("top") << int(alTop) << QPoint(300, 162) << QPoint(300, 0) << int(Qt::SizeVerCursor);
    QTest::newRow("bottom") << int(alBottom) << QPoint(300, 4) << QPoint(300, 164) << int(Qt::SizeVerCursor);
}

void TestFloatingPanel::cursorFollowsTheBar()
{
    QFETCH(int, align);
    QFETCH(QPoint, onBar);
    QFETCH(QPoint, offBar);
    QFETCH(int, shape);
    DockedPanel area{TAlign(align)};
    QVERIFY(QTest::qWaitForWindowExposed(&area.container));
    TFloatingPanel* panel = area.panel;

    QTest::mouseMove(panel, onBar);
    QCOMPARE(int(currentOverride()), shape);
    QTest::mouseMove(panel, offBar);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::mouseMove(panel, onBar);
    QCOMPARE(int(currentOverride()), shape);
    // Straight from the bar onto the panel's own child.
    QTest::mouseMove(area.inner, area.inner->rect().center());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::mouseMove(panel, onBar);
    QCOMPARE(int(currentOverride()), shape);
    // Out of the panel.
    QTest::mouseMove(area.client, area.client->rect().center());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TestFloatingPanel::floatAndDockEvents()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->SetBarName("Chat");
    EventLog log(panel);

    panel->Float();
    QCOMPARE(log.events, QStringList({"show", "float"}));
    QVERIFY(panel->Floating());
    QVERIFY(panel->FloatWindow());
    QCOMPARE(panel->parentWidget(), panel->FloatWindow());
    QVERIFY(!panel->FloatWindow()->isVisible());
    QCOMPARE(panel->FloatWindow()->windowTitle(), QString("Chat"));
    QCOMPARE(panel->FloatWindow()->size(), QSize(165, 355));
    QCOMPARE(panel->Align(), alClient);
    QCOMPARE(panel->BarRect(), QRect());
    QCOMPARE(area.client->width(), 565);

    panel->SetBarName(QString::fromUtf8("Discussion générale"));
    QCOMPARE(panel->FloatWindow()->windowTitle(), QString::fromUtf8("Discussion générale"));

    panel->Float();
    QCOMPARE(log.events.size(), 2);

    panel->Defloat();
    QCOMPARE(log.events, QStringList({"show", "float", "show", "defloat"}));
    QVERIFY(!panel->Floating());
    QCOMPARE(panel->FloatWindow(), nullptr);
    QCOMPARE(panel->parentWidget(), &area.container);
    QCOMPARE(panel->Align(), alRight);
    QCOMPARE(panel->geometry(), QRect(400, 0, 165, 355));
    QCOMPARE(area.client->width(), 400);

    panel->Defloat();
    QCOMPARE(log.events.size(), 4);
}

void TestFloatingPanel::hidePanelWhileFloating()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->Float();
    EventLog log(panel);
    panel->HidePanel();
    QCOMPARE(log.events, QStringList({"show", "defloat", "hide"}));
    QVERIFY(!panel->Floating());
    QVERIFY(panel->isHidden());
    QCOMPARE(panel->parentWidget(), &area.container);

    panel->ShowPanel();
    QCOMPARE(log.events.last(), QString("show"));
    QVERIFY(!panel->isHidden());
}

void TestFloatingPanel::floatAtWhenFloatingOnlyMoves()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->FloatAt(QPoint(40, 50));
    QWidget* window = panel->FloatWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->frameGeometry().topLeft(), QPoint(40, 50));

    EventLog log(panel);
    window->hide();
    panel->FloatAt(QPoint(120, 80));
    QCOMPARE(log.events, QStringList());
    QCOMPARE(panel->FloatWindow(), window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->frameGeometry().topLeft(), QPoint(120, 80));
    panel->Defloat();
}

void TestFloatingPanel::dockingTakesTheToolWindowSize()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->FloatAt(QPoint(10, 10));
    panel->FloatWindow()->resize(300, 200);
    QTRY_COMPARE(panel->size(), QSize(300, 200));

    panel->Defloat();
    QCOMPARE(panel->width(), 300);
    QCOMPARE(panel->geometry(), QRect(265, 0, 300, 355));
    QCOMPARE(area.client->width(), 265);
}

void TestFloatingPanel::floatWithoutParent()
{
    TFloatingPanel panel;
    panel.SetHandleType(htSingle);
    panel.hide();
    EventLog log(&panel);
    panel.Float();
    QCOMPARE(log.events, QStringList({"show"}));
    QVERIFY(!panel.Floating());
    QCOMPARE(panel.FloatWindow(), nullptr);
    QVERIFY(!panel.isHidden());
}

void TestFloatingPanel::closeBoxHidesOnReleaseAnywhere()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->SetCloseButton(true);
    EventLog log(panel);
    const QPoint box = panel->CloseRect().center();

    QTest::mousePress(panel, Qt::LeftButton, {}, box);
    QVERIFY(!panel->isHidden());
    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(-300, 900));
    QVERIFY(panel->isHidden());
    QCOMPARE(log.events, QStringList({"hide"}));
    QVERIFY(!panel->Floating());
    QCOMPARE(area.client->width(), 565);

    // The close box's right and bottom edges count as inside.
    panel->ShowPanel();
    const QRect close = panel->CloseRect();
    QTest::mousePress(panel, Qt::RightButton, {}, QPoint(close.x() + close.width(), close.y() + close.height()));
    QTest::mouseRelease(panel, Qt::RightButton, {}, QPoint(0, 0));
    QVERIFY(panel->isHidden());
}

void TestFloatingPanel::equalCloseButtonKeepsThePress()
{
    TFloatingPanel panel;
    panel.SetCloseButton(true);
    panel.show();
    QTest::mousePress(&panel, Qt::LeftButton, {}, panel.CloseRect().center());
    panel.SetCloseButton(true);
    QTest::mouseRelease(&panel, Qt::LeftButton, {}, QPoint(0, 0));
    QVERIFY(panel.isHidden());

    // A real change clears the press, so the release then does nothing.
    panel.show();
    QTest::mousePress(&panel, Qt::LeftButton, {}, panel.CloseRect().center());
    panel.SetCloseButton(false);
    panel.SetCloseButton(true);
    QTest::mouseRelease(&panel, Qt::LeftButton, {}, QPoint(0, 0));
    QVERIFY(!panel.isHidden());
}

void TestFloatingPanel::closingTheToolWindow()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->FloatAt(QPoint(0, 0));
    QPointer<QWidget> window = panel->FloatWindow();
    EventLog log(panel);

    window->close();
    QCOMPARE(log.events, QStringList({"hide"}));
    QVERIFY(!window->isVisible());
    QVERIFY(panel->Floating());
    QCOMPARE(panel->parentWidget(), window.data());

    // Docking from inside the close notification: the window is closing right then.
    panel->FloatAt(QPoint(0, 0));
    QObject::connect(panel, &TFloatingPanel::OnHide, panel, &TFloatingPanel::Defloat);
    window->close();
    QVERIFY(!panel->Floating());
    QCOMPARE(panel->parentWidget(), &area.container);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
}

void TestFloatingPanel::handleClickFloatsInPlace()
{
    DockedPanel area(alRight);
    TFloatingPanel* panel = area.panel;
    panel->SetHandleType(htDouble);
    const QPoint corner = panel->mapToGlobal(QPoint(0, 0));
    EventLog log(panel);
    const QPoint grip = panel->HandleRect().center();
    QTest::mousePress(panel, Qt::LeftButton, {}, grip);
    QTest::mouseRelease(panel, Qt::LeftButton, {}, grip);
    QCOMPARE(log.events, QStringList({"show", "float"}));
    QVERIFY(panel->FloatWindow()->isVisible());
    QCOMPARE(panel->FloatWindow()->frameGeometry().topLeft(), corner);
    QCOMPARE(panel->FloatWindow()->size(), QSize(165, 355));
    panel->HidePanel();
}

void TestFloatingPanel::handleDragShowsThreeOutlines()
{
    DockedPanel area(alLeft);
    TFloatingPanel* panel = area.panel;
    panel->SetHandleType(htSingle);
    panel->SetHandleOrientation(hoLeft);
    const QRect origin(panel->mapToGlobal(QPoint(0, 0)), panel->size());
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(3, 40));
    QVERIFY(visibleOutline());
    QCOMPARE(visibleOutline()->Rings(), 3);
    QCOMPARE(visibleOutline()->Outline(), origin);

    QTest::mouseMove(panel, QPoint(33, 80));
    QCOMPARE(visibleOutline()->Outline(), origin.translated(30, 40));
    QVERIFY(!panel->Floating());

    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(33, 80));
    QVERIFY(panel->Floating());
    QCOMPARE(panel->FloatWindow()->frameGeometry().topLeft(), origin.topLeft() + QPoint(30, 40));
    QCOMPARE(area.client->geometry(), QRect(0, 0, 565, 355));
    panel->Defloat();
}

void TestFloatingPanel::destroyedWhileFloating()
{
    DockedPanel area(alRight);
    QPointer<TFloatingPanel> panel = area.panel;
    panel->FloatAt(QPoint(5, 5));
    QPointer<QWidget> window = panel->FloatWindow();
    delete panel.data();
    QVERIFY(!window.isNull() && !window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
}

void TestFloatingPanel::ownerDestroyedWhileFloating()
{
    auto owner = std::make_unique<QWidget>();
    new TDockLayout(owner.get());
    QPointer<TFloatingPanel> panel = new TFloatingPanel(owner.get());
    panel->SetAlign(alTop);
    panel->FloatAt(QPoint(5, 5));
    QPointer<QWidget> window = panel->FloatWindow();
    owner.reset();
    QVERIFY(panel.isNull());
    QVERIFY(window.isNull());
}

QTEST_MAIN(TestFloatingPanel)
#include "test_floatingpanel.moc"
