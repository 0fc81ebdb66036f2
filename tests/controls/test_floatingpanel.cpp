#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"
#include "controls/OutlineOverlay.h"

#include <QApplication>
#include <QTest>

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform can neither shape nor raise windows and says so for every outline.
void DropPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        previousHandler(type, context, message);
}

// The palette roles along a line of pixels from (x, y), down or to the right: L light, D dark,
// B button face.
QString Roles(QWidget& widget, QPoint p, QPoint step, int count)
{
    const QImage image = widget.grab().toImage();
    const QPalette& palette = widget.palette();
    const QHash<QRgb, char> names{{palette.color(QPalette::Light).rgb(), 'L'},
                                  {palette.color(QPalette::Dark).rgb(), 'D'},
                                  {palette.color(QPalette::Button).rgb(), 'B'}};
    QString roles;
    for (; roles.size() < count; p += step)
        roles += QLatin1Char(names.value(image.pixel(p), '?'));
    return roles;
}

TOutlineOverlay* VisibleOutline()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* overlay = qobject_cast<TOutlineOverlay*>(widget);
        if (overlay && overlay->isVisible())
            return overlay;
    }
    return nullptr;
}

Qt::CursorShape CurrentOverride()
{
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

} // namespace

class TestFloatingPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(DropPlatformNotices); }

    // Every gesture and hover hands the cursor back and leaves no outline behind.
    void cleanup()
    {
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(VisibleOutline(), nullptr);
    }

    // A 200 x 100 panel with its bar on: the bevel, bar, handle and close box as drawn, and the
    // child placed where the panel says its children go.
    void drawn_data()
    {
        QTest::addColumn<int>("align");
        QTest::addColumn<int>("handle");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QString>("across");  // the roles rightwards from there
        QTest::addColumn<QString>("down");    // the roles downwards from there
        QTest::newRow("right bar") << int(alRight) << int(htNone) << "" << QPoint(0, 50) << "LBBBDB" << "";
        QTest::newRow("single handle, bevel") << int(alNone) << int(htSingle) << "bevel" << QPoint(50, 0) << "" << "LBLBDB";
        QTest::newRow("double big handle") << int(alNone) << int(htDoubleBig) << "" << QPoint(50, 2) << "" << "LBBDBLBBDB";
        QTest::newRow("close box") << int(alNone) << int(htDoubleBig) << "close" << QPoint(186, 5) << "BLBBBBBBBBBDB" << "";
        QTest::newRow("bottom bar, double handle") << int(alBottom) << int(htDouble) << "" << QPoint(50, 0) << "" << "LBBBDBBLBDBLBDB";
        QTest::newRow("client: no bar") << int(alClient) << int(htNone) << "" << QPoint(0, 50) << "BBBBBB" << "";
    }
    void drawn()
    {
        QFETCH(int, align);
        QFETCH(QPoint, from);
        QFETCH(QString, across);
        QFETCH(QString, down);
        QFETCH(QString, extra);
        QWidget parent;
        TFloatingPanel panel(&parent);
        panel.resize(200, 100);
        panel.SetResizeBar(true);
        panel.SetBevel(extra == "bevel");
        panel.SetCloseButton(extra == "close");
        QFETCH(int, handle);
        panel.SetHandleType(THandleType(handle));
        panel.SetAlign(TAlign(align));
        auto* child = new QWidget(&panel);
        panel.ChildLayout()->addWidget(child, alClient);
        panel.ChildLayout()->activate();
        QCOMPARE(child->geometry(), panel.ChildRect());
        QCOMPARE(Roles(panel, from, QPoint(1, 0), across.size()), across);
        QCOMPARE(Roles(panel, from, QPoint(0, 1), down.size()), down);
    }

    // Hover on the bar, elsewhere on the panel and on its child, then press on the bar, drag and
    // release. alClient and alNone have no bar: no cursor, no outline, no OnSplit.
    void barGesture_data()
    {
        QTest::addColumn<int>("align");
        QTest::addColumn<int>("neighbour"); // width or height of a widget docked nearer the edge
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("release");
        QTest::addColumn<int>("extent"); // the panel's width or height afterwards
        QTest::newRow("right, far left: full width") << int(alRight) << 0 << QPoint(0, 9) << QPoint(-2000, 90) << 565;
        QTest::newRow("right, to 3 px short of the far end: the bar") << int(alRight) << 0 << QPoint(5, 100) << QPoint(167, 100) << 5;
        QTest::newRow("right beside another") << int(alRight) << 100 << QPoint(2, 10) << QPoint(1000, 10) << 0;
        QTest::newRow("left, 30 to the right") << int(alLeft) << 0 << QPoint(162, 50) << QPoint(192, 50) << 195;
        QTest::newRow("top, far down: full height") << int(alTop) << 0 << QPoint(50, 161) << QPoint(50, 900) << 355;
        QTest::newRow("bottom, 20 up") << int(alBottom) << 0 << QPoint(50, 0) << QPoint(50, -20) << 185;
        QTest::newRow("client") << int(alClient) << 0 << QPoint(2, 100) << QPoint(50, 100) << 355;
    }
    void barGesture()
    {
        QFETCH(int, align);
        QFETCH(int, neighbour);
        QFETCH(QPoint, press);
        QFETCH(QPoint, release);
        // A 565 x 355 parent with the panel docked at one edge, as the main window holds its chat
        // column, maybe behind a neighbour; a client widget takes the rest, the panel holds a child.
        QWidget container;
        container.resize(565, 355);
        auto* dock = new TDockLayout(&container);
        if (neighbour) {
            auto* outer = new QWidget(&container);
            outer->resize(neighbour, neighbour);
            dock->addWidget(outer, TAlign(align));
        }
        auto* panel = new TFloatingPanel(&container);
        panel->SetBevel(false);
        panel->SetResizeBar(true);
        panel->resize(165, 165);
        dock->addWidget(panel, TAlign(align));
        auto* client = new QWidget(&container);
        dock->addWidget(client, alClient);
        auto* inner = new QWidget(panel);
        panel->ChildLayout()->addWidget(inner, alClient);
        container.show();
        dock->activate();
        panel->raise(); // over the client widget where they overlap, so the pointer reaches it
        QVERIFY(QTest::qWaitForWindowExposed(&container));
        QList<bool> events;  // true for OnSplit, false for any other
        for (auto signal : {&TFloatingPanel::OnShow, &TFloatingPanel::OnHide, &TFloatingPanel::OnFloat,
                            &TFloatingPanel::OnDefloat, &TFloatingPanel::OnSplit})
            QObject::connect(panel, signal, panel, [&events, signal] { events << (signal == &TFloatingPanel::OnSplit); });
        const bool horizontal = align == alLeft || align == alRight;
        const QRect bar(panel->mapToGlobal(panel->BarRect().topLeft()), panel->BarRect().size());
        const auto shape = bar.isEmpty() ? Qt::ArrowCursor : horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor;
        // A corner away from the bar, on the panel itself and not on its child.
        const QPoint offBar = panel->BarRect().contains(0, 0) ? panel->rect().bottomRight() : QPoint(0, 0);
        const std::pair<QWidget*, QPoint> path[] = {{panel, press}, {panel, offBar}, {panel, press},
                                                    {inner, QPoint(20, 20)}, {panel, press},
                                                    {client, QPoint(20, 20)}};
        for (const auto& [widget, point] : path) {
            QTest::mouseMove(widget, point);
            QCOMPARE(CurrentOverride(), point == press ? shape : Qt::ArrowCursor);
        }

        QTest::mousePress(panel, Qt::LeftButton, {}, press);
        QCOMPARE(VisibleOutline() ? VisibleOutline()->Outline() : QRect(), bar.isEmpty() ? QRect() : bar);
        QTest::mouseMove(panel, release);
        if (const TOutlineOverlay* outline = VisibleOutline()) {
            // Along the bar's axis only, and never out of the parent.
            const QRect shown = outline->Outline();
            QCOMPARE(shown, bar.translated(horizontal ? shown.x() - bar.x() : 0, horizontal ? 0 : shown.y() - bar.y()));
            QVERIFY(QRect(container.mapToGlobal(QPoint(0, 0)), container.size()).contains(shown));
        }
        QTest::mouseRelease(panel, Qt::LeftButton, {}, release);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(events, bar.isEmpty() ? QList<bool>() : QList<bool>{true});
        QTEST(horizontal ? panel->width() : panel->height(), "extent");
        if (!bar.isEmpty()) {
            const int rest = horizontal ? client->width() : client->height();
            QCOMPARE(rest + neighbour + (horizontal ? panel->width() : panel->height()), horizontal ? 565 : 355);
        }
    }
};

QTEST_MAIN(TestFloatingPanel)
#include "test_floatingpanel.moc"
