#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"

#include <QTest>
#include <QWidget>

class TestDockLayout : public QObject
{
    Q_OBJECT

private slots:
    // The row's name lists the children in insertion order as "<align>:<width>x<height>"; each
    // starts at (7, 9) with that size, in a 300 x 200 container.
    void placement_data()
    {
        QTest::addColumn<QString>("placed");
        QTest::newRow("top:10x20 bottom:10x30 client:1x1") << "0,0 300x20 | 0,170 300x30 | 0,20 300x150";
        QTest::newRow("client:1x1 bottom:10x59") << "0,0 300x141 | 0,141 300x59";
        QTest::newRow("left:50x10 right:40x10 top:10x10") << "0,10 50x190 | 260,10 40x190 | 0,0 300x10";
        QTest::newRow("right:30x10 right:20x10") << "270,0 30x200 | 250,0 20x200";
        QTest::newRow("none:11x13 client:1x1") << "7,9 11x13 | 0,0 300x200";
        QTest::newRow("left:250x10 right:100x10 client:1x1") << "0,0 250x200 | 200,0 100x200 | 250,0 0x200";
    }
    void placement()
    {
        static const QStringList aligns{"none", "top", "bottom", "left", "right", "client"};
        QWidget container;
        container.resize(300, 200);
        auto* dock = new TDockLayout(&container);
        QList<QWidget*> widgets;
        for (const QString& child : QString::fromLatin1(QTest::currentDataTag()).split(u' ')) {
            widgets << new QWidget(&container);
            const QStringList size = child.section(u':', 1).split(u'x');
            widgets.last()->setGeometry(7, 9, size[0].toInt(), size[1].toInt());
            dock->addWidget(widgets.last(), TAlign(aligns.indexOf(child.section(u':', 0, 0))));
        }
        dock->activate();
        QStringList placed;
        for (const QWidget* widget : widgets) {
            const QRect r = widget->geometry();
            placed << QString::asprintf("%d,%d %dx%d", r.x(), r.y(), r.width(), r.height());
        }
        QTEST(placed.join(" | "), "placed");
    }

    void panelAndLayoutStayInStep()
    {
        QWidget container;
        container.resize(400, 300);
        auto* dock = new TDockLayout(&container);
        auto* client = new QWidget(&container);
        dock->addWidget(client, alClient);
        // Never added explicitly: the panel's own alignment puts it into its parent's layout.
        auto* panel = new TFloatingPanel(&container);
        panel->SetResizeBar(true);
        panel->resize(100, 50);
        panel->SetAlign(alLeft);
        QCOMPARE(dock->align(panel), alLeft);
        QCOMPARE(panel->geometry(), QRect(0, 0, 100, 300));
        QCOMPARE(client->geometry(), QRect(100, 0, 300, 300));

        // Stretched to the full height while on the left; at the bottom it keeps its own height.
        panel->resize(100, 50);
        dock->setAlign(panel, alBottom);
        dock->activate();
        QCOMPARE(panel->Align(), alBottom);
        QCOMPARE(panel->BarRect(), QRect(0, 0, 400, 5));
        QCOMPARE(client->geometry(), QRect(0, 0, 400, 250));

        // A widget that leaves, by deletion or for another parent, leaves the layout alone.
        auto* doomed = new QWidget(&container);
        dock->addWidget(doomed, alTop);
        delete doomed;
        QWidget elsewhere;
        panel->setParent(&elsewhere);
        panel->resize(10, 10);
        dock->activate();
        QCOMPARE(dock->count(), 1);
        QCOMPARE(client->geometry(), QRect(0, 0, 400, 300));
    }
};

QTEST_MAIN(TestDockLayout)
#include "test_docklayout.moc"
