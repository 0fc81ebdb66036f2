#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

#include <memory>
#include <vector>

namespace {

struct Child
{
    TAlign align;
    QRect start; // geometry before the layout runs; edges keep its width or height
    QRect expected;
};

} // namespace

Q_DECLARE_METATYPE(Child)

class TestDockLayout : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void hiddenWidgetTakesNoSpace();
    void resizingAnEdgeWidgetFeedsTheClient();
    void panelAlignmentFollowsTheLayout();
    void settingThePanelAlignmentMovesIt();
    void widgetsLeavingTheLayout();
};

void TestDockLayout::placement_data()
{
    QTest::addColumn<QList<Child>>("children");
    // Container 300 x 200 throughout.
    QTest::newRow("top, bottom, client")
        << QList<Child>{{alTop, {0, 0, 10, 20}, {0, 0, 300, 20}},
                        {alBottom, {0, 0, 10, 30}, {0, 170, 300, 30}},
                        {alClient, {0, 0, 10, 10}, {0, 20, 300, 150}}};
    QTest::newRow("client listed before bottom, as the chat column")
        << QList<Child>{{alClient, {0, 0, 10, 10}, {0, 0, 300, 141}},
                        {alBottom, {0, 0, 10, 59}, {0, 141, 300, 59}}};
    QTest::newRow("top spans the width before left and right")
        << QList<Child>{{alLeft, {0, 0, 50, 10}, {0, 10, 50, 190}},
                        {alRight, {0, 0, 40, 10}, {260, 10, 40, 190}},
                        {alTop, {0, 0, 10, 10}, {0, 0, 300, 10}}};
    QTest::newRow("two tops stack in insertion order")
        << QList<Child>{{alTop, {0, 0, 10, 10}, {0, 0, 300, 10}}, {alTop, {0, 0, 10, 20}, {0, 10, 300, 20}}};
    QTest::newRow("two rights stack inwards in insertion order")
        << QList<Child>{{alRight, {0, 0, 30, 10}, {270, 0, 30, 200}}, {alRight, {0, 0, 20, 10}, {250, 0, 20, 200}}};
    QTest::newRow("main window: right panel and board")
        << QList<Child>{{alRight, {0, 0, 165, 10}, {135, 0, 165, 200}}, {alClient, {0, 0, 10, 10}, {0, 0, 135, 200}}};
    QTest::newRow("alNone keeps its place")
        << QList<Child>{{alNone, {7, 9, 11, 13}, {7, 9, 11, 13}}, {alClient, {0, 0, 10, 10}, {0, 0, 300, 200}}};
    QTest::newRow("edges wider than the container leave the client nothing")
        << QList<Child>{{alLeft, {0, 0, 250, 10}, {0, 0, 250, 200}},
                        {alRight, {0, 0, 100, 10}, {200, 0, 100, 200}},
                        {alClient, {0, 0, 10, 10}, {250, 0, 0, 200}}};
}

void TestDockLayout::placement()
{
    QFETCH(QList<Child>, children);
    QWidget container;
    container.resize(300, 200);
    auto* dock = new TDockLayout(&container);
    std::vector<QWidget*> widgets;
    for (const Child& child : children) {
        auto* widget = new QWidget(&container);
        widget->setGeometry(child.start);
        dock->addWidget(widget, child.align);
        widgets.push_back(widget);
    }
    dock->activate();
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        QCOMPARE(widgets[i]->geometry(), children[static_cast<int>(i)].expected);
        QCOMPARE(dock->align(widgets[i]), children[static_cast<int>(i)].align);
    }
}

void TestDockLayout::hiddenWidgetTakesNoSpace()
{
    QWidget container;
    container.resize(300, 200);
    auto* dock = new TDockLayout(&container);
    auto* top = new QWidget(&container);
    top->resize(10, 40);
    auto* client = new QWidget(&container);
    dock->addWidget(top, alTop);
    dock->addWidget(client, alClient);
    top->hide();
    dock->activate();
    QCOMPARE(client->geometry(), QRect(0, 0, 300, 200));

    top->show();
    dock->invalidate();
    dock->activate();
    QCOMPARE(client->geometry(), QRect(0, 40, 300, 160));
}

void TestDockLayout::resizingAnEdgeWidgetFeedsTheClient()
{
    QWidget container;
    container.resize(565, 355);
    auto* dock = new TDockLayout(&container);
    auto* side = new QWidget(&container);
    side->resize(165, 10);
    auto* client = new QWidget(&container);
    dock->addWidget(side, alRight);
    dock->addWidget(client, alClient);
    container.show();
    QVERIFY(QTest::qWaitForWindowExposed(&container));
    QCOMPARE(client->geometry(), QRect(0, 0, 400, 355));

    side->resize(250, side->height());
    QTRY_COMPARE(client->geometry(), QRect(0, 0, 315, 355));
    QCOMPARE(side->geometry(), QRect(315, 0, 250, 355));

    container.resize(600, 300);
    QTRY_COMPARE(side->geometry(), QRect(350, 0, 250, 300));
    QCOMPARE(client->geometry(), QRect(0, 0, 350, 300));
}

void TestDockLayout::panelAlignmentFollowsTheLayout()
{
    QWidget container;
    container.resize(565, 355);
    auto* dock = new TDockLayout(&container);
    auto* panel = new TFloatingPanel(&container);
    panel->SetResizeBar(true);
    panel->SetBevel(false);
    panel->resize(165, 355);
    dock->addWidget(panel, alRight);
    dock->activate();
    QCOMPARE(panel->Align(), alRight);
    QCOMPARE(panel->geometry(), QRect(400, 0, 165, 355));
    QCOMPARE(panel->BarRect(), QRect(0, 0, 5, 355));

    dock->setAlign(panel, alTop);
    dock->activate();
    QCOMPARE(panel->Align(), alTop);
    QCOMPARE(panel->geometry(), QRect(0, 0, 565, 355));
    QCOMPARE(panel->BarRect(), QRect(0, 350, 565, 5));
}

void TestDockLayout::settingThePanelAlignmentMovesIt()
{
    QWidget container;
    container.resize(400, 300);
    auto* dock = new TDockLayout(&container);
    auto* client = new QWidget(&container);
    dock->addWidget(client, alClient);
    // Never added explicitly: the panel's own alignment puts it into its parent's layout.
    auto* panel = new TFloatingPanel(&container);
    panel->resize(100, 50);
    panel->SetAlign(alLeft);
    QCOMPARE(dock->align(panel), alLeft);
    QCOMPARE(panel->geometry(), QRect(0, 0, 100, 300));
    QCOMPARE(client->geometry(), QRect(100, 0, 300, 300));

    // Stretched to the full height while on the left; a bottom panel keeps its own height.
    panel->resize(100, 50);
    panel->SetAlign(alBottom);
    QCOMPARE(dock->align(panel), alBottom);
    QCOMPARE(panel->geometry(), QRect(0, 250, 400, 50));
    QCOMPARE(client->geometry(), QRect(0, 0, 400, 250));
}

void TestDockLayout::widgetsLeavingTheLayout()
{
    QWidget container;
    container.resize(300, 200);
    QWidget elsewhere;
    auto* dock = new TDockLayout(&container);
    auto* doomed = new QWidget(&container);
    doomed->resize(10, 30);
    auto* moved = new QWidget(&container);
    moved->resize(10, 20);
    auto* client = new QWidget(&container);
    dock->addWidget(doomed, alTop);
    dock->addWidget(moved, alTop);
    dock->addWidget(client, alClient);
    QCOMPARE(dock->count(), 3);

    delete doomed;
    moved->setParent(&elsewhere);
    QCOMPARE(dock->count(), 1);
    QCOMPARE(dock->align(moved), alNone);
    moved->resize(10, 80); // no longer watched: must not disturb the layout
    dock->activate();
    QCOMPARE(client->geometry(), QRect(0, 0, 300, 200));
}

QTEST_MAIN(TestDockLayout)
#include "test_docklayout.moc"
