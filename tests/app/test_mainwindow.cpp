// The main window as players see and use it: menus, chat, message boxes, the status bar, and the
// board by mouse and keyboard.

#include "app/BoardView.h"
#include "app/ComputerOpponent.h"
#include "app/Resources.h"
#include "app/Unit1.h"
#include "app/Unit5.h"
#include "support/ModalLoop.h"
#include "support/Players.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Answers every modal window that opens, the nested ones included, while the timer lives.
std::unique_ptr<QTimer> AnswerModals(std::function<void(QWidget*)> answer)
{
    auto poll = std::make_unique<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [answer, last = QPointer<QWidget>()]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != last)
            answer(last = modal);
    });
    poll->start(10);
    return poll;
}

// The name is typed over the prompt's selected default and the prompt is shut by its close box,
// which keeps the field's text as the name.
std::unique_ptr<TForm1> OpenWindow(const QString& name)
{
    const auto prompt = AnswerModals([name](QWidget* modal) {
        QTest::keyClicks(modal->findChild<QLineEdit*>(), name);
        modal->close();
    });
    auto form = std::make_unique<TForm1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("the main window was not exposed");
    return form;
}

// The listener waits for the connector's first move once it knows the connector's name.
void Connect(TForm1& listener, TForm1& connector)
{
    listener.Session().Listen("0");
    connector.Session().Connect("127.0.0.1", QString::number(listener.Session().LocalPort()));
    QVERIFY(RunModalUntil([&] { return listener.Session().Match.RemoteName == connector.Session().Match.LocalName; }));
}

QString Menu(const TForm1& form)
{
    QString items;
    for (const QAction* item : {form.Computer1, form.Connect1, form.NetworkGames1, form.Disconnect1, form.Listen1,
                               form.StopListening1})
        items += item->isEnabled() ? '+' : '-';
    return items;
}

// Each key goes to the widget, or else where the focus is, as a person's keys do.
void Keys(const QString& keys, QWidget* to = nullptr)
{
    for (const QString& key : keys.split(u' '))
        QTest::keySequence(to ? to : QApplication::focusWidget(), QKeySequence(key));
}

// Where the text, drawn as a label of the window's font and palette, shows up in its pixels: the
// left edge of its ink; -1 when nowhere.
int TextAt(QWidget* window, const QString& text)
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
                return x;
    return -1;
}

// The centre of a cell of the board in the window, from the board's size alone.
QPoint CellCentre(TForm1& form, int col, int row)
{
    const QSize size = form.PaintBox1->size();
    const double w = (size.width() - 5) / 7.0, h = (size.height() - 5) / 6.0;
    return form.PaintBox1->mapTo(&form, QPoint(int(5 + (col - 0.5) * w), int(5 + (6.5 - row) * h)));
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // As the program starts: every test here sees the toolkit's own texts in French.
    void initTestCase() { InstallToolkitTranslation(); }

    // An edit field's own menu, as it pops up, is French; the program's yes/no question keeps its
    // own texts and buttons.
    void toolkitTextsInFrench()
    {
        if (!InstallToolkitTranslation())
            QSKIP("qtbase_fr.qm is not installed (qt6-translations-l10n)");
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
        Connect(*alice, *bob);
        // Through the window, as a person's click comes, so the toolkit turns it into a menu.
        QTest::mouseClick(alice->windowHandle(), Qt::RightButton, {}, alice->Memo1->mapTo(alice.get(), QPoint(5, 5)));
        QTRY_VERIFY(QApplication::activePopupWidget());
        QStringList shown;
        for (const QAction* item : QApplication::activePopupWidget()->actions())
            shown << item->text().section(u'\t', 0, 0);
        QApplication::activePopupWidget()->close();
        const auto question = AnswerModals([&](QWidget* modal) {
            shown << modal->windowTitle();
            for (const QWidget* part : modal->findChildren<QWidget*>())
                shown << part->property("text").toString();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        alice->New1->trigger();
        QCOMPARE(shown.join(", "), "&Annuler, &Rétablir, , Co&uper, Cop&ier, Co&ller, Supprimer, , "
                                   "Tout sélectionner, Tessaro, , "
                                   "Etes-vous certain que vous voulez quitter votre jeu?, , &Oui, &Non");
    }

    // The menu follows the state (the computer is offered only when nothing is connected or
    // listening), and both dialogs hand the port on as typed.
    void connectionMenuAndPorts()
    {
        auto form = OpenWindow("Marie");
        QCOMPARE(Menu(*form), "+++-+-");
        // Typed beyond 16 bits, a port keeps its low 16 bits, so both players land on one port.
        const TRawPeer listener = TRawPeer::Listener();
        const quint16 free = TRawPeer::Listener().Port();  // the kernel's pick, closed again at once
        QString port = "0" + QString::number(65536 + free);
        auto answer = AnswerModals([&](QWidget* modal) {
            const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
            if (fields.size() > 1)
                QTest::keyClicks(fields.first(), "127.0.0.1");
            fields.last()->selectAll();
            QTest::keyClick(fields.last(), Qt::Key_Delete);
            QTest::keyClicks(fields.last(), port);
            QTest::keyClick(fields.last(), Qt::Key_Return);
        });
        form->Listen1->trigger();
        QCOMPARE(form->Session().PortText(), port);
        QCOMPARE(form->Session().LocalPort(), free);
        QCOMPARE(Menu(*form), "-----+");
        form->StopListening1->trigger();
        QCOMPARE(Menu(*form), "+++-+-");
        port = "0" + QString::number(65536 + listener.Port());
        form->Connect1->trigger();
        QCOMPARE(form->Session().PortText(), port);
        const auto state = [&] { return form->Session().State(); };
        QVERIFY(RunModalUntil([&] { return state() == csConnected; }));

        // The computer is played again after each end of a game against it: the player leaves
        // (the second round), or the bot's connection closes (the third).
        form->ComputerOpponent->Program = TESSARO_BOT;
        answer = AnswerModals([](QWidget* level) { QTest::keyClick(level, Qt::Key_Return); });
        for (int round = 0; round < 3; ++round) {
            if (round < 2)
                form->Disconnect1->trigger();
            for (QProcess* bot : form->ComputerOpponent->findChildren<QProcess*>())
                bot->kill();
            QVERIFY(RunModalUntil([&] { return state() == csNone; }));
            form->Computer1->trigger();
            QVERIFY2(RunModalUntil([&] { return state() == csConnected && Menu(*form) == "---+--"; }, 60000), qPrintable(Menu(*form)));
        }
    }

    // Two windows play by clicks; a box stays open on one while the other's moves and chat arrive,
    // the chat's newest line on top, shown as it came; the winning line shows on the loser's
    // window, and the loser's dialog shows its message.
    void gameAsThePlayersSeeIt()
    {
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
        Connect(*alice, *bob);
        QVERIFY(RunModalUntil([&] { return alice->Session().Match.GameState == gsRemoteTurn; }));

        const auto click = [](TForm1& form, int col) {  // on the lowest free hole, as a player does
            const int row = form.Session().Match.Board.FreeRow(col);
            QTest::mouseClick(form.PaintBox1, Qt::LeftButton, {}, form.PaintBox1->mapFrom(&form, CellCentre(form, col, row)));
        };
        bool seenBehindTheBox = false;
        {
            const auto about = AnswerModals([&](QWidget* box) {
                click(*bob, 1);
                bob->Memo1->insertPlainText("<b>coucou</b>&amp;\x01\x1b\x7f");
                QTest::keyClick(bob->Memo1, Qt::Key_Return);
                seenBehindTheBox = RunModalUntil([&] {
                    return alice->Session().Match.Board.Cell(1, 1) == cvRemote
                        && alice->Memo2->document()->firstBlock().text() == "Bob: <b>coucou</b>&amp;\u2401\u241B\u2421";
                });
                QTest::keyClick(box, Qt::Key_Return);
            });
            alice->about1->trigger();
        }
        QVERIFY(seenBehindTheBox);

        QStringList seen;
        const auto boxes = AnswerModals([&](QWidget* modal) {
            if (qobject_cast<TForm5*>(modal)) {
                bool line = true;
                const QPoint from = CellCentre(*alice, 1, 1), to = CellCentre(*alice, 1, 4);
                for (int step = 0; step <= 12; ++step)
                    line = line && alice->grab().toImage().pixelColor(from + (to - from) * step / 12) == QColor(Qt::black);
                seen << QString("line %1").arg(line) << QString("dialog %1").arg(TextAt(modal, "Vous avez perdu") >= 0);
            } else {
                seen << QString("box %1").arg(TextAt(modal, "Vous avez gagné!") >= 0);
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

        // Thousands of lines in one go and a move behind them: the log takes them in a few edits,
        // not one per line, so the move is not held up; the newest lines show, in order.
        QStringList lines;
        for (int i = 0; i < 5000; ++i)
            alice->Session().SendChatLine(lines.emplaceFront(QString::number(i)));
        int edits = 0;
        QObject::connect(bob->Memo2->document(), &QTextDocument::contentsChange, [&] { ++edits; });
        click(*alice, 3);
        QVERIFY(RunModalUntil([&] { return bob->Session().Match.GameState == gsLocalTurn; }));
        QVERIFY2(edits < 250, qPrintable(QString::number(edits)));
        QTRY_COMPARE(bob->Memo2->toPlainText(), lines.first(TForm1::kMaxChatLines).join('\n'));
    }

    // The status bar as drawn with names far too long for it.
    void statusBarWithLongNames()
    {
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
        QFont whole = alice->font();  // glyphs on whole pixels, as a sample label draws them
        whole.setHintingPreference(QFont::PreferFullHinting);
        alice->setFont(whole);
        alice->Session().Match.LocalName = "Marie-Christine Dupont-Lefebvre de La Roche-Aymon";
        bob->Session().Match.LocalName = QString("Jean-Baptiste Martin-Durand ").repeated(4000);
        Connect(*alice, *bob);
        alice->resize(760, alice->height());
        QTRY_COMPARE(alice->Panel1->width(), 760 - 165);
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
        // Each text keeps its start, at the start of its panel, and ends with an ellipsis at the
        // panel's end.
        for (QLabel* panel : {alice->StatusPanel0, alice->StatusPanel1}) {
            const int start = TextAt(panel, panel->text().left(12)), ellipsis = TextAt(panel, "…");
            QVERIFY2(start >= 0 && start < 8 && ellipsis > panel->width() - 24, qPrintable(panel->text().left(12)));
        }
    }

    // From the chat input, keys reach the board, mark a column in the strip above the holes and
    // play there as a press would.
    void keysPlayAsAPress_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("column");
        QTest::newRow("Enter, the edge stops the marker") << "Tab Right Right Right Right Return" << 7;
        QTest::newRow("Space, back from the button, the other edge") << "Shift+Tab Left Left Left Left Space" << 1;
        QTest::newRow("a digit") << "Tab 7" << 7;
    }
    void keysPlayAsAPress()
    {
        QFETCH(QString, keys);
        QFETCH(int, column);
        auto alice = OpenWindow("Alice");
        auto bob = OpenWindow("Bob");
        Connect(*alice, *bob);
        QVERIFY(QTest::qWaitForWindowActive(bob.get()));
        TBoard ours;
        ours.Drop(column, cvLocal);
        const QRgb blue = qRgb(0, 0, 255);
        // Bob moves first: the same keys on Alice's board do nothing, on Bob's they play, once.
        Keys(keys.section(u' ', 1), alice->PaintBox1);
        for (int turn = 0; turn < 2; ++turn) {
            bob->Memo1->setFocus();
            Keys(keys);
            QCOMPARE(QApplication::focusWidget(), bob->PaintBox1);
            QCOMPARE(bob->Session().Match.Board, ours);
            const QImage strip = bob->PaintBox1->grab().toImage();  // its columns are 56 pixels wide
            QVERIFY(turn > 0 || (strip.pixel(56 * column - 28, 2) != blue && strip.pixel(56 * (column % 7) + 28, 2) == blue));
        }
        QTRY_COMPARE(alice->Session().Match.Board.Cell(column, 1), int(cvRemote));
        const QString description = QString(". Dernier coup : colonne %1 (%2)").arg(column);
        QAccessibleInterface* board = QAccessible::queryAccessibleInterface(alice->PaintBox1);
        QCOMPARE(board->text(QAccessible::Description), "Votre tour" + description.arg("Bob"));
        board = QAccessible::queryAccessibleInterface(bob->PaintBox1);
        QCOMPARE(board->text(QAccessible::Description), "Alice's tour" + description.arg("vous"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
