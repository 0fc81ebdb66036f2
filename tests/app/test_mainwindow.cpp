// The main window as players see and use it: menus, chat, message boxes, the status bar, the
// board by mouse and keyboard, and the computer opponent's process.

#include "app/BoardView.h"
#include "app/ComputerOpponent.h"
#include "app/LevelDialog.h"
#include "app/Unit1.h"
#include "app/Unit5.h"
#include "support/ModalLoop.h"
#include "support/Players.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>

namespace {

// Answers every modal window that opens, the nested ones included, until it goes.
class TModalAnswerer
{
public:
    explicit TModalAnswerer(std::function<void(QWidget*)> answer)
    {
        QObject::connect(&Poll, &QTimer::timeout, [this, answer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != Last)
                answer(Last = modal);
        });
        Poll.start(10);
    }

private:
    QTimer Poll;
    QPointer<QWidget> Last;
};

std::unique_ptr<TForm1> OpenWindow(const QString& name)
{
    TModalAnswerer prompt([name](QWidget* modal) {
        QTest::keyClicks(modal->findChild<QLineEdit*>(), name);  // typing replaces the selected default
        QTest::keyClick(modal, Qt::Key_Return);
    });
    auto form = std::make_unique<TForm1>();
    form->ComputerOpponent->Program = QStringLiteral(TESSARO_BOT);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("the main window was not exposed");
    return form;
}

// The listener waits for the connector's first move once it knows the connector's name.
void Connect(TForm1& listener, TForm1& connector)
{
    listener.Session().Listen1Click("0");
    connector.Session().Connect1Click("127.0.0.1", QString::number(listener.Session().Connection.LocalPort()));
    QVERIFY(RunModalUntil([&] { return listener.Session().Match.RemoteName == connector.Session().Match.LocalName; }));
}

QStringList ChatLines(const TForm1& form)
{
    QStringList lines;
    for (QTextBlock block = form.Memo2->document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    return lines == QStringList{QString()} ? QStringList() : lines;
}

QString Menu(const TForm1& form)
{
    QString items;
    for (const QAction* item : {form.Connect1, form.Disconnect1, form.Listen1, form.StopListening1})
        items += item->isEnabled() ? '+' : '-';
    return items;
}

void TypeChat(TForm1& form, const QString& text)
{
    form.Memo1->setFocus();
    form.Memo1->insertPlainText(text);
    QTest::keyClick(form.Memo1, Qt::Key_Return);
}

void Keys(QWidget* to, const QString& keys)
{
    for (const QString& key : keys.split(u' '))
        QTest::keySequence(to, QKeySequence(key));
}

// True when the text, drawn as a label of the window's font and palette, shows up in its pixels.
bool ShowsText(QWidget* window, const QString& text)
{
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QLabel sample(text);
    sample.setFont(window->font());
    sample.setPalette(window->palette());
    sample.adjustSize();
    QImage ink = sample.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect box;  // the ink alone, without the label's margins
    for (int y = 0; y < ink.height(); ++y)
        for (int x = 0; x < ink.width(); ++x)
            if (ink.pixel(x, y) != ink.pixel(0, 0))
                box |= QRect(x, y, 1, 1);
    ink = ink.copy(box);
    for (int y = 0; y + ink.height() <= shot.height(); ++y)
        for (int x = 0; x + ink.width() <= shot.width(); ++x)
            if (shot.copy(x, y, ink.width(), ink.height()) == ink)
                return true;
    return false;
}

// The centre of a cell of the board in the window, from the board's size alone.
QPoint CellCentre(TForm1& form, int col, int row)
{
    const QSize size = form.PaintBox1->size();
    const double w = (size.width() - 5) / 7.0, h = (size.height() - 5) / 6.0;
    return form.PaintBox1->mapTo(&form, QPoint(int(5 + (col - 0.5) * w), int(5 + (6.5 - row) * h)));
}

// Clicks the item in the opened Jeu menu; true when the level dialog came, then answered.
bool ChooseComputer(TForm1& form)
{
    bool opened = false;
    TModalAnswerer answer([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<TLevelDialog*>(modal)) {
            opened = true;
            dialog->ComboBox1->setCurrentIndex(0);
            QTest::keyClick(dialog, Qt::Key_Return);
        }
    });
    form.Game1->popup(form.mapToGlobal(QPoint(0, 0)));
    QTest::mouseClick(form.Game1, Qt::LeftButton, {}, form.Game1->actionGeometry(form.Computer1).center());
    form.Game1->close();
    return opened;
}

bool Gone(qint64 pid)
{
    return pid > 0 && kill(pid_t(pid), 0) != 0;
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void namePromptClosedKeepsTheFieldText()
    {
        TModalAnswerer prompt([](QWidget* modal) {
            modal->findChild<QLineEdit*>()->clear();
            modal->close();  // the close box
        });
        TForm1 form;
        TypeChat(form, "x");
        QCOMPARE(ChatLines(form).value(0), ": x");
    }

    void chatLogShowsTextLiterally_data()
    {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("shown");
        QTest::newRow("markup") << "<b>Paul</b>: &amp;" << "<b>Paul</b>: &amp;";
        QTest::newRow("controls") << "\r\n\x01\x1b[31m\x7f" << "\u240D\u240A\u2401\u241B[31m\u2421";
    }
    void chatLogShowsTextLiterally()
    {
        QFETCH(QString, received);
        auto form = OpenWindow("Marie");
        form->InsertChatLine("older");
        form->InsertChatLine(received);
        QFETCH(QString, shown);
        QCOMPARE(ChatLines(*form), (QStringList{shown, "older"}));
    }

    // More lines than the log keeps, in one burst: the newest on top, in order, and play goes on.
    void floodOfChatLines()
    {
        auto form = OpenWindow("Eve");
        TSession& session = form->Session();
        session.Listen1Click("0");
        TRawPeer peer = TRawPeer::ConnectTo(session.Connection.LocalPort());
        QVERIFY(RunModalUntil([&] { return session.Connection.ConnectionState == csConnected; }));
        const int count = TForm1::kMaxChatLines + 100;
        QByteArray burst;
        for (int i = 0; i < count; ++i)
            burst += Encoded(pkChat, 0, QString::number(i));
        QVERIFY(peer.SendAll(burst + Encoded(pkChat, 0, QString(64 * 1024, 'x'))));
        QVERIFY(RunModalUntil([&] { return form->Memo2->document()->firstBlock().text().startsWith("xxx"); }));
        const QStringList lines = ChatLines(*form);
        QCOMPARE(lines.size(), TForm1::kMaxChatLines);
        QVERIFY(lines[0].size() < 64 * 1024);  // an oversized line is cut for display
        for (int i = 1; i < lines.size(); ++i)
            QCOMPARE(lines[i], QString::number(count - i));
        QCOMPARE(form->Memo2->document()->availableUndoSteps(), 0);
        QVERIFY(peer.SendAll(Encoded(pkNewGame) + Encoded(pkMove, 4)));
        QVERIFY(RunModalUntil([&] { return session.Match.Board.Cell(4, 1) == cvRemote; }));
    }

    // The icon and the buttons the flags ask for; Return takes the default, Escape says no.
    void messageBoxes()
    {
        auto form = OpenWindow("Marie");
        QStringList shown;
        TModalAnswerer answerer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            shown << QString("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
            QTest::keyClick(box, shown.size() < 3 ? Qt::Key_Return : Qt::Key_Escape);
        });
        QCOMPARE(form->MessageBox("Vous avez gagné!", "Tessaro", MB_OK), int(IDOK));
        QCOMPARE(form->MessageBox("Encore?", "Tessaro", MB_YESNO | MB_ICONSTOP), int(IDYES));
        QCOMPARE(form->MessageBox("Encore?", "Tessaro", MB_YESNO | MB_ICONSTOP), int(IDNO));
        QCOMPARE(shown, (QStringList{"Tessaro|Vous avez gagné!|0", "Tessaro|Encore?|3", "Tessaro|Encore?|3"}));
    }

    void portHandedOnAsTyped_data()
    {
        QTest::addColumn<bool>("listen");
        QTest::addColumn<QString>("typed");    // "<port>" is the raw listener's port
        QTest::addColumn<QString>("outcome");  // the port text the session holds, or the box shown
        QTest::newRow("connect, leading zero") << false << "0<port>" << "port 0<port>";
        QTest::newRow("connect, empty field") << false << "" << "box Le port n'est pas specifié";
        QTest::newRow("listen, 00") << true << "00" << "port 00";
    }
    void portHandedOnAsTyped()
    {
        QFETCH(bool, listen);
        QFETCH(QString, typed);
        QFETCH(QString, outcome);
        const TRawPeer listener = TRawPeer::Listener();
        typed.replace("<port>", QString::number(listener.Port()));
        outcome.replace("<port>", QString::number(listener.Port()));
        auto form = OpenWindow("Marie");
        QString box;
        TModalAnswerer answerer([&](QWidget* modal) {
            if (auto* message = qobject_cast<QMessageBox*>(modal)) {
                box = "box " + message->text();
                return message->accept();
            }
            const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
            if (!listen)
                QTest::keyClicks(fields.first(), "127.0.0.1");
            fields.last()->selectAll();
            QTest::keyClick(fields.last(), Qt::Key_Delete);
            QTest::keyClicks(fields.last(), typed);
            QTest::keyClick(fields.last(), Qt::Key_Return);
        });
        (listen ? form->Listen1 : form->Connect1)->trigger();
        QCOMPARE(box.isEmpty() ? "port " + form->Session().Connection.PortText : box, outcome);
    }

    void connectionMenuFollowsTheState()
    {
        auto form = OpenWindow("Marie");
        QCOMPARE(form->Session().Match.LocalName, "Marie");
        QCOMPARE(Menu(*form), "+-+-");
        form->Session().Listen1Click("0");
        QCOMPARE(Menu(*form), "---+");
        form->StopListening1->trigger();
        QCOMPARE(Menu(*form), "+-+-");
        TRawPeer listener = TRawPeer::Listener();
        form->Session().Connect1Click("127.0.0.1", QString::number(listener.Port()));
        QCOMPARE(Menu(*form), "-+--");
    }

    // Two windows play by clicks; a box stays open on one while the other's moves and chat arrive;
    // the winning line shows on the loser's window, and the loser's dialog shows its message.
    void gameAsThePlayersSeeIt()
    {
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
        Connect(*alice, *bob);
        QVERIFY(RunModalUntil([&] { return alice->Session().Match.GameState == gsRemoteTurn; }));
        QCOMPARE(ChatLines(*bob).value(0), ":: Vous avez connecté à Alice");

        const auto click = [](TForm1& form, int col) {  // on the lowest free hole, as a player does
            int row = 1;
            while (form.Session().Match.Board.Cell(col, row) != cvEmpty)
                ++row;
            QTest::mouseClick(form.PaintBox1, Qt::LeftButton, {}, form.PaintBox1->mapFrom(&form, CellCentre(form, col, row)));
        };
        bool seenBehindTheBox = false;
        {
            TModalAnswerer about([&](QWidget* box) {
                click(*bob, 1);
                TypeChat(*bob, "coucou");
                seenBehindTheBox = RunModalUntil([&] {
                    return alice->Session().Match.Board.Cell(1, 1) == cvRemote && ChatLines(*alice).value(0) == "Bob: coucou";
                });
                QTest::keyClick(box, Qt::Key_Return);
            });
            alice->about1->trigger();
        }
        QVERIFY(seenBehindTheBox);

        QStringList seen;
        TModalAnswerer boxes([&](QWidget* modal) {
            if (qobject_cast<TForm5*>(modal)) {
                bool line = true;
                const QPoint from = CellCentre(*alice, 1, 1), to = CellCentre(*alice, 1, 4);
                for (int step = 0; step <= 12; ++step)
                    line = line && alice->grab().toImage().pixelColor(from + (to - from) * step / 12) == QColor(Qt::black);
                seen << QString("line %1").arg(line) << QString("dialog %1").arg(ShowsText(modal, "Vous avez perdu"));
            } else {
                seen << QString("box %1").arg(ShowsText(modal, "Vous avez gagné!"));
            }
            QTest::keyClick(modal, Qt::Key_Return);
        });
        for (int i = 0; i < 3; ++i) {
            click(*alice, 2);
            QVERIFY(RunModalUntil([&] { return bob->Session().Match.GameState == gsLocalTurn; }));
            click(*bob, 1);
            if (i < 2)
                QVERIFY(RunModalUntil([&] { return alice->Session().Match.GameState == gsLocalTurn; }));
        }
        QVERIFY(RunModalUntil([&] { return seen.size() == 3 && !QApplication::activeModalWidget(); }));
        seen.sort();
        QCOMPARE(seen.join(", "), "box 1, dialog 1, line 1");
        QVERIFY(RunModalUntil([&] { return alice->Session().Match.GameState == gsLocalTurn; }));
    }

    // The status bar as drawn with names far too long for it.
    void statusBarWithLongNames()
    {
        const int windowWidth = 760;
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
        alice->Session().Match.LocalName = "Marie-Christine Dupont-Lefebvre de La Roche-Aymon";
        bob->Session().Match.LocalName = QString("Jean-Baptiste Martin-Durand ").repeated(4000);
        Connect(*alice, *bob);
        alice->resize(windowWidth, alice->height());
        QTRY_COMPARE(alice->Panel1->width(), windowWidth - 165);
        // One character per pixel column: '#' where text is drawn, '.' where the column is one
        // colour between the frame's rows (a frame line, a bare panel).
        const QImage bar = alice->statusBar()->grab().toImage();
        QString ink(bar.width(), u'.');
        for (int x = 0; x < bar.width(); ++x)
            for (int y = 3; y < bar.height() - 3; ++y)
                if (bar.pixel(x, y) != bar.pixel(x, 2))
                    ink[x] = u'#';
        const int edge = alice->Panel1->width() + 1;  // where panel 1 begins
        // Panel 0's light right edge meets panel 1's dark left edge there, and no text crosses it.
        QCOMPARE(ink.mid(edge - 1, 2) + ink.back(), "...");
        QVERIFY(qGray(bar.pixel(edge - 1, 9)) > qGray(bar.pixel(edge, 9)));
        // Each text starts at the start of its panel and runs up to the panel's end.
        QVERIFY(ink.indexOf(u'#') < 8 && ink.lastIndexOf(u'#', edge - 2) > edge - 24);
        QVERIFY(ink.indexOf(u'#', edge) < edge + 8 && ink.lastIndexOf(u'#') > ink.size() - 24);
    }

    void tabLeadsToTheBoardAndShowsTheMarker()
    {
        auto form = OpenWindow("Marie");
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
            Keys(form->Memo1, keys);
            QCOMPARE(QApplication::focusWidget(), form->PaintBox1);
            QCOMPARE(markedColumns(), QList<int>{4});
        }
        Keys(form->PaintBox1, "Right");
        QCOMPARE(markedColumns(), QList<int>{5});
        // Only the strip above the holes changes.
        QCOMPARE(form->PaintBox1->grab().toImage().copy(0, 5, 398, 348), plain.copy(0, 5, 398, 348));
        Keys(form->PaintBox1, "Tab");
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
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
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
        const QString description = QString(". Dernier coup : colonne %1 (%2)").arg(column);
        QAccessibleInterface* board = QAccessible::queryAccessibleInterface(alice->PaintBox1);
        QCOMPARE(board->text(QAccessible::Name), "Plateau");
        QCOMPARE(board->text(QAccessible::Description), "Votre tour" + description.arg("Bob"));
        board = QAccessible::queryAccessibleInterface(bob->PaintBox1);
        QCOMPARE(board->text(QAccessible::Description), "Alice's tour" + description.arg("vous"));
    }

    // "Contre l'ordinateur..." is offered only when nothing is connected or listening, and the bot
    // process it starts ends with the connection and with the window.
    void computerOpponent()
    {
        auto form = OpenWindow("Marie");
        form->Session().Listen1Click("0");
        QVERIFY(!ChooseComputer(*form));
        form->Session().StopListening1Click();
        const auto playing = [&] {
            return form->Session().Match.RemoteName == "Ordinateur" && form->Session().Match.GameState == gsLocalTurn;
        };
        QVERIFY(ChooseComputer(*form));
        QVERIFY(RunModalUntil(playing));
        QVERIFY(!ChooseComputer(*form));
        const qint64 first = form->ComputerOpponent->ProcessId();
        form->Disconnect1Click();
        QVERIFY(RunModalUntil([&] { return Gone(first); }));
        form->Session().Match.RemoteName.clear();
        QVERIFY(ChooseComputer(*form));
        QVERIFY(RunModalUntil(playing));
        const qint64 second = form->ComputerOpponent->ProcessId();
        form.reset();
        QVERIFY(Gone(second));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
