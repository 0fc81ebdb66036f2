#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"
#include "controls/OutlineOverlay.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform can neither shape nor raise windows and says so for every outline.
void DropPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        previousHandler(type, context, message);
}

// "left top right bottom" with right and bottom outside, as the layout rules state them; "-" for none.
QString Edges(const QRect& r)
{
    return r.isNull() ? "-" : QString::asprintf("%d %d %d %d", r.x(), r.y(), r.x() + r.width(), r.y() + r.height());
}

// A 200 x 100 panel with its bar on, set up from words such as "alRight htSingle hoLeft close bevel".
void Configure(TFloatingPanel& panel, const QString& words)
{
    static const QStringList aligns{"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};
    static const QStringList handles{"htNone", "htSingle", "htDouble", "htBig", "htDoubleBig"};
    static const QStringList orientations{"hoTop", "hoLeft", "hoBottom", "hoRight"};
    panel.resize(200, 100);
    panel.SetResizeBar(true);
    panel.SetBevel(words.contains("bevel"));
    panel.SetCloseButton(words.contains("close"));
    for (const QString& word : words.split(u' ')) {
        if (aligns.contains(word))
            panel.SetAlign(TAlign(aligns.indexOf(word)));
        else if (handles.contains(word))
            panel.SetHandleType(THandleType(handles.indexOf(word)));
        else if (orientations.contains(word))
            panel.SetHandleOrientation(THandleOrientation(orientations.indexOf(word)));
    }
}

// The palette roles along a line of pixels, "x,y down|right roles": L light, D dark, B button face.
QString Roles(QWidget& widget, const QString& line)
{
    const QStringList words = line.split(u' ');
    const QImage image = widget.grab().toImage();
    const QPalette& palette = widget.palette();
    const QHash<QRgb, char> names{{palette.color(QPalette::Light).rgb(), 'L'},
                                  {palette.color(QPalette::Dark).rgb(), 'D'},
                                  {palette.color(QPalette::Button).rgb(), 'B'}};
    QPoint p(words[0].section(u',', 0, 0).toInt(), words[0].section(u',', 1).toInt());
    QString roles;
    for (; roles.size() < words[2].size(); p += words[1] == u"down" ? QPoint(0, 1) : QPoint(1, 0))
        roles += QLatin1Char(names.value(image.pixel(p), '?'));
    return words.mid(0, 2).join(u' ') + u' ' + roles;
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

// A 565 x 355 parent with the panel (bar on, no bevel, 165 wide or high) docked at one edge, as
// the main window holds its chat column, optionally behind a neighbour on the same edge; a client
// widget takes the rest, and the panel holds a client child of its own. `events` logs the panel's.
struct DockedPanel
{
    explicit DockedPanel(TAlign align, int neighbour = 0)
    {
        container.resize(565, 355);
        auto* dock = new TDockLayout(&container);
        if (neighbour) {
            auto* outer = new QWidget(&container);
            outer->resize(neighbour, neighbour);
            dock->addWidget(outer, align);
        }
        panel->SetBevel(false);
        panel->SetResizeBar(true);
        panel->resize(165, 165);
        dock->addWidget(panel, align);
        dock->addWidget(client, alClient);
        panel->ChildLayout()->addWidget(inner, alClient);
        container.show();
        dock->activate();
        using TSignal = void (TFloatingPanel::*)(TFloatingPanel*);
        const std::pair<TSignal, const char*> kinds[] = {
            {&TFloatingPanel::OnShow, "show"}, {&TFloatingPanel::OnHide, "hide"}, {&TFloatingPanel::OnFloat, "float"},
            {&TFloatingPanel::OnDefloat, "defloat"}, {&TFloatingPanel::OnSplit, "split"}};
        for (const auto& [signal, name] : kinds)
            QObject::connect(panel, signal, panel, [this, name = name] { events << name; });
    }

    QStringList events;
    QWidget container;
    TFloatingPanel* panel = new TFloatingPanel(&container);
    QWidget* client = new QWidget(&container);
    QWidget* inner = new QWidget(panel);
};

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

    // The row's name sets the panel up; rectangles are "left top right bottom", right and bottom outside.
    void layout_data()
    {
        QTest::addColumn<QString>("rects"); // bar | handle | close box | children
        QTest::addColumn<QString>("pixels");
        QTest::newRow("alRight") << "0 0 5 100 | - | - | 6 1 199 99" << "0,50 right LBBBDB";
        QTest::newRow("htSingle bevel") << "- | 2 2 198 6 | - | 2 6 198 98" << "50,0 down LBLBDB";
        QTest::newRow("htDoubleBig") << "- | 2 2 198 12 | - | 1 11 199 99" << "50,2 down LBBDBLBBDB";
        QTest::newRow("htDoubleBig close") << "- | 2 2 198 14 | 187 2 198 14 | 1 13 199 99"
                                           << "186,5 right BLBBBBBBBBBDB";
        QTest::newRow("alBottom htDouble") << "0 0 200 5 | 2 7 198 15 | - | 1 14 199 99" << "50,0 down LBBBDBBLBDBLBDB";
        QTest::newRow("alClient") << "- | - | - | 1 1 199 99" << "0,50 right BBBBBB";
    }
    void layout()
    {
        QWidget parent;
        TFloatingPanel panel(&parent);
        Configure(panel, QString::fromLatin1(QTest::currentDataTag()));
        auto* child = new QWidget(&panel);
        panel.ChildLayout()->addWidget(child, alClient);
        panel.ChildLayout()->activate();
        const QStringList rects{Edges(panel.BarRect()), Edges(panel.HandleRect()), Edges(panel.CloseRect()),
                                Edges(panel.ChildRect())};
        QTEST(rects.join(" | "), "rects");
        QCOMPARE(child->geometry(), panel.ChildRect());
        QFETCH(QString, pixels);
        QCOMPARE(Roles(panel, pixels), pixels);
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
        DockedPanel area(TAlign(align), neighbour);
        TFloatingPanel* panel = area.panel;
        panel->raise(); // over the client widget where they overlap, so the pointer reaches it
        QVERIFY(QTest::qWaitForWindowExposed(&area.container));
        const bool horizontal = align == alLeft || align == alRight;
        const QRect bar(panel->mapToGlobal(panel->BarRect().topLeft()), panel->BarRect().size());
        const auto shape = bar.isEmpty() ? Qt::ArrowCursor : horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor;
        // A corner away from the bar, on the panel itself and not on its child.
        const QPoint offBar = panel->BarRect().contains(0, 0) ? panel->rect().bottomRight() : QPoint(0, 0);
        const std::pair<QWidget*, QPoint> path[] = {{panel, press}, {panel, offBar}, {panel, press},
                                                    {area.inner, QPoint(20, 20)}, {panel, press},
                                                    {area.client, QPoint(20, 20)}};
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
            QVERIFY(QRect(area.container.mapToGlobal(QPoint(0, 0)), area.container.size()).contains(shown));
        }
        QTest::mouseRelease(panel, Qt::LeftButton, {}, release);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(area.events, bar.isEmpty() ? QStringList() : QStringList{"split"});
        QTEST(horizontal ? panel->width() : panel->height(), "extent");
        if (!bar.isEmpty()) {
            const int client = horizontal ? area.client->width() : area.client->height();
            QCOMPARE(client + neighbour + (horizontal ? panel->width() : panel->height()), horizontal ? 565 : 355);
        }
    }
};

QTEST_MAIN(TestFloatingPanel)
#include "test_floatingpanel.moc"
