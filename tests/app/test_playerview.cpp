// What a player sees and touches around the board, as drawn: the status bar with long names,
// the play-again dialog, Tab in the chat input, and playing from the keyboard.

#include "app/BoardView.h"
#include "app/Unit1.h"
#include "app/Unit5.h"

#include <QAccessible>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

std::unique_ptr<TForm1> OpenWindow(const QString& name)
{
    QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    auto form = std::make_unique<TForm1>();
    form->Session().Match.LocalName = name;
    form->show();
    return form;
}

// The listener waits for the connector's first move once it knows the connector's name.
void Connect(TForm1& listener, TForm1& connector)
{
    listener.Session().Listen1Click(QStringLiteral("0"));
    const QString port = QString::number(listener.Session().Connection.LocalPort());
    connector.Session().Connect1Click(QStringLiteral("127.0.0.1"), port);
    QTRY_COMPARE(listener.Session().Match.RemoteName, connector.Session().Match.LocalName);
}

void Keys(QWidget* to, const QString& keys)
{
    for (const QString& key : keys.split(u' ', Qt::SkipEmptyParts))
        QTest::keySequence(to, QKeySequence(key));
}

// One character per pixel column of a status bar picture: '#' where text is drawn, '.' where
// the column is one colour from top to bottom between the frame's rows (a frame line, bare panel).
QString Ink(const QImage& bar)
{
    QString ink(bar.width(), u'.');
    for (int x = 0; x < bar.width(); ++x)
        for (int y = 3; y < bar.height() - 3; ++y)
            if (bar.pixel(x, y) != bar.pixel(x, 2))
                ink[x] = u'#';
    return ink;
}

}  // namespace

class TestPlayerView : public QObject
{
    Q_OBJECT

private slots:
    void statusBarWithLongNames_data()
    {
        QTest::addColumn<int>("windowWidth");
        for (int width : {565, 760, 1100})
            QTest::addRow("%d pixels", width) << width;
    }
    void statusBarWithLongNames()
    {
        QFETCH(int, windowWidth);
        auto alice = OpenWindow(QStringLiteral("Marie-Christine Dupont-Lefebvre de La Roche-Aymon"));
        auto bob = OpenWindow(QStringLiteral("Jean-Baptiste Martin-Durand ").repeated(4000));
        Connect(*alice, *bob);
        alice->resize(windowWidth, alice->height());
        QTRY_COMPARE(alice->Panel1->width(), windowWidth - 165);

        const QImage bar = alice->statusBar()->grab().toImage();
        const QString ink = Ink(bar);
        const int edge = alice->Panel1->width() + 1;  // where panel 1 begins
        // Panel 0's light right edge meets panel 1's dark left edge there, and no text crosses it.
        QCOMPARE(ink.mid(edge - 1, 2) + ink.back(), QStringLiteral("..."));
        QVERIFY(qGray(bar.pixel(edge - 1, 9)) > qGray(bar.pixel(edge, 9)));
        // Each text starts at the start of its panel and runs up to the panel's end.
        QVERIFY(ink.indexOf(u'#') < 8 && ink.lastIndexOf(u'#', edge - 2) > edge - 24);
        QVERIFY(ink.indexOf(u'#', edge) < edge + 8 && ink.lastIndexOf(u'#') > ink.size() - 24);
    }

    void playAgainKeepsTheLayout()
    {
        // A font no larger than the layout's, so nothing is scaled.
        const QFont desktop = QApplication::font();
        QFont small = desktop;
        small.setPixelSize(10);
        QApplication::setFont(small);
        TForm5 dialog;
        dialog.Label1->setText(QStringLiteral("Vous avez perdu"));
        dialog.show();
        QApplication::setFont(desktop);
        QCOMPARE(dialog.size(), QSize(195, 97));
        QCOMPARE(dialog.Button1->geometry(), QRect(16, 56, 75, 25));
        QCOMPARE(dialog.Button2->geometry(), QRect(104, 56, 75, 25));
    }

    void tabLeadsToTheBoardAndShowsTheMarker()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        const QImage plain = form->PaintBox1->grab().toImage();
        const auto markedColumns = [&form] {
            const QImage board = form->PaintBox1->grab().toImage();
            QList<int> columns;
            for (int column = 1; column <= 7; ++column)
                if (board.pixel(56 * column - 28, 2) != qRgb(0, 0, 255))
                    columns << column;
            return columns;
        };
        for (const char* keys : {"Tab", "Shift+Tab"}) {
            form->Memo1->setFocus();
            Keys(form->Memo1, QString::fromLatin1(keys));
            QCOMPARE(QApplication::focusWidget(), form->PaintBox1);
            QCOMPARE(markedColumns(), QList<int>{4});
        }
        Keys(form->PaintBox1, QStringLiteral("Right"));
        QCOMPARE(markedColumns(), QList<int>{5});
        // Only the strip above the holes changes.
        QCOMPARE(form->PaintBox1->grab().toImage().copy(0, 5, 398, 348), plain.copy(0, 5, 398, 348));
        Keys(form->PaintBox1, QStringLiteral("Tab"));
        QCOMPARE(QApplication::focusWidget(), form->Memo1);
        QCOMPARE(markedColumns(), QList<int>{});
        QCOMPARE(form->Memo1->toPlainText(), QString());
        // A click gives the board the focus but shows no marker.
        QTest::mouseClick(form->PaintBox1, Qt::LeftButton, {}, QPoint(30, 30));
        QCOMPARE(QApplication::focusWidget(), form->PaintBox1);
        QCOMPARE(markedColumns(), QList<int>{});
    }

    void keysPlayAsAPress_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("column");
        QTest::newRow("Enter") << "Right Right Return" << 6;
        QTest::newRow("Space") << "Left Space" << 3;
        QTest::newRow("the edge stops the marker") << "Left Left Left Left Left Space" << 1;
        QTest::newRow("a digit") << "7" << 7;
    }
    void keysPlayAsAPress()
    {
        QFETCH(QString, keys);
        QFETCH(int, column);
        auto alice = OpenWindow(QStringLiteral("Alice"));
        auto bob = OpenWindow(QStringLiteral("Bob"));
        Connect(*alice, *bob);
        TBoard ours;
        ours.Drop(column, cvLocal);

        // Bob moves first: the same keys on Alice's board do nothing, on Bob's they play, once.
        Keys(alice->PaintBox1, keys);
        Keys(bob->PaintBox1, keys);
        QCOMPARE(bob->Session().Match.Board, ours);
        QTRY_COMPARE(alice->Session().Match.Board.Cell(column, 1), int(cvRemote));
        Keys(bob->PaintBox1, keys);
        QCOMPARE(bob->Session().Match.Board, ours);

        const QString description = QStringLiteral(". Dernier coup : colonne %1 (%2)").arg(column);
        QAccessibleInterface* board = QAccessible::queryAccessibleInterface(alice->PaintBox1);
        QCOMPARE(board->text(QAccessible::Name), QStringLiteral("Plateau"));
        QCOMPARE(board->text(QAccessible::Description), "Votre tour" + description.arg("Bob"));
        board = QAccessible::queryAccessibleInterface(bob->PaintBox1);
        QCOMPARE(board->text(QAccessible::Description), "Alice's tour" + description.arg("vous"));
    }
};

QTEST_MAIN(TestPlayerView)
#include "test_playerview.moc"
