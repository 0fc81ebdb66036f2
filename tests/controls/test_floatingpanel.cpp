#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"
#include "controls/OutlineOverlay.h"

#include <QApplication>
#include <QTest>

namespace {

TOutlineOverlay* VisibleOutline()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* overlay = qobject_cast<TOutlineOverlay*>(widget);
        if (overlay && overlay->isVisible())
            return overlay;
    }
    return nullptr;
}

} // namespace

class TestFloatingPanel : public QObject
{
    Q_OBJECT

private slots:
    // Every gesture and hover hands the cursor back and leaves no outline behind.
    void cleanup()
    {
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(VisibleOutline(), nullptr);
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
        QCOMPARE(inner->geometry(), panel->ChildRect());
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
            const QCursor* cursor = QGuiApplication::overrideCursor();
            QCOMPARE(cursor ? cursor->shape() : Qt::ArrowCursor, point == press ? shape : Qt::ArrowCursor);
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
