#include "app/BoardView.h"
#include "app/Unit1.h"
#include "app/Unit5.h"
#include "support/ModalLoop.h"
#include "support/Players.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Answers every modal window that opens, the nested ones included, until the timer goes.
class TModalAnswerer
{
public:
    explicit TModalAnswerer(std::function<void(QWidget*)> answer)
    {
        QObject::connect(&Poll, &QTimer::timeout, [this, answer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != Last) {
                Last = modal;
                answer(modal);
            }
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
        auto* edit = modal->findChild<QLineEdit*>();
        QTest::keyClicks(edit, name);  // the pre-filled name is selected: typing replaces it
        QTest::keyClick(edit, Qt::Key_Return);
    });
    auto form = std::make_unique<TForm1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("the main window was not exposed");
    return form;
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

void TypeChat(TForm1& form, const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    form.Memo1->setFocus();
    form.Memo1->insertPlainText(text);
    QTest::keyClick(form.Memo1, Qt::Key_Return, modifiers);
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
    const QRgb paper = ink.pixel(0, 0);
    QRect box;
    for (int y = 0; y < ink.height(); ++y)
        for (int x = 0; x < ink.width(); ++x)
            if (ink.pixel(x, y) != paper)
                box |= QRect(x, y, 1, 1);
    ink = ink.copy(box);
    for (int y = 0; y + ink.height() <= shot.height(); ++y) {
        for (int x = 0; x + ink.width() <= shot.width(); ++x) {
            bool same = true;
            for (int j = 0; j < ink.height() && same; ++j)
                for (int i = 0; i < ink.width() && same; ++i)
                    same = shot.pixel(x + i, y + j) == ink.pixel(i, j);
            if (same)
                return true;
        }
    }
    return false;
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
    void startUp();
    void namePromptClosedKeepsTheFieldText();
    void chatLogShowsTextLiterally_data();
    void chatLogShowsTextLiterally();
    void floodOfChatLines();
    void messageBoxes_data();
    void messageBoxes();
    void portHandedOnAsTyped_data();
    void portHandedOnAsTyped();
    void connectionMenuFollowsTheState();
    void gameAsThePlayersSeeIt();
};

void TestMainWindow::startUp()
{
    auto form = OpenWindow("Marie");
    QCOMPARE(form->Session().Match.LocalName, "Marie");
    QStringList menus;
    for (const QAction* item : form->menuBar()->actions()) {
        menus << item->text();
        for (const QAction* sub : item->menu()->actions())
            menus << sub->text();
    }
    QCOMPARE(menus.join('|'), "&Jeu|&Nouveau||&Quitte|&Connection|&Connecte...|&Deconnecte|&Ecoute..."
                              "|&Cessez d'écouter|&Aide|&Concernant...");
    QCOMPARE(Menu(*form), "+-+-");
}

void TestMainWindow::namePromptClosedKeepsTheFieldText()
{
    TModalAnswerer prompt([](QWidget* modal) {
        modal->findChild<QLineEdit*>()->clear();
        modal->close();  // the close box
    });
    TForm1 form;
    TypeChat(form, "x");
    QCOMPARE(ChatLines(form).value(0), ": x");
}

void TestMainWindow::chatLogShowsTextLiterally_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("shown");
    QTest::newRow("markup") << "<b>Paul</b>: &amp;" << "<b>Paul</b>: &amp;";
    QTest::newRow("line breaks") << "a\r\nb" << "a\u240D\u240Ab";
    QTest::newRow("other controls") << "\x01\x1b[31m\x7f" << "\u2401\u241B[31m\u2421";
}

void TestMainWindow::chatLogShowsTextLiterally()
{
    QFETCH(QString, received);
    QFETCH(QString, shown);
    auto form = OpenWindow("Marie");
    form->InsertChatLine("older");
    form->InsertChatLine(received);
    QCOMPARE(ChatLines(*form), (QStringList{shown, "older"}));
}

// More lines than the log keeps, in one burst: the newest on top, in order, and play goes on.
void TestMainWindow::floodOfChatLines()
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

void TestMainWindow::messageBoxes_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("answer");
    QTest::newRow("plain OK") << unsigned(MB_OK) << int(Qt::Key_Return) << int(QMessageBox::NoIcon) << int(IDOK);
    QTest::newRow("error icon") << unsigned(MB_ICONERROR) << int(Qt::Key_Return) << int(QMessageBox::Critical) << int(IDOK);
    QTest::newRow("question, yes") << unsigned(MB_YESNO | MB_ICONSTOP) << int(Qt::Key_Return) << int(QMessageBox::Critical) << int(IDYES);
    QTest::newRow("question, escape is no") << unsigned(MB_YESNO | MB_ICONSTOP) << int(Qt::Key_Escape) << int(QMessageBox::Critical) << int(IDNO);
}

void TestMainWindow::messageBoxes()
{
    QFETCH(unsigned, flags);
    QFETCH(int, key);
    QFETCH(int, icon);
    QFETCH(int, answer);
    auto form = OpenWindow("Marie");
    QString shown;
    TModalAnswerer answerer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        shown = QString("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
        QTest::keyClick(box, Qt::Key(key));
    });
    QCOMPARE(form->MessageBox("Vous avez gagné!", "Tessaro", flags), answer);
    QCOMPARE(shown, QString("Tessaro|Vous avez gagné!|%1").arg(icon));
}

void TestMainWindow::portHandedOnAsTyped_data()
{
    QTest::addColumn<bool>("listen");
    QTest::addColumn<QString>("typed");   // "<port>" is the raw listener's port
    QTest::addColumn<QString>("outcome"); // the port text the session holds, or the box shown
    QTest::newRow("connect, leading zero") << false << "0<port>" << "port 0<port>";
    QTest::newRow("connect, empty field") << false << "" << "box Le port n'est pas specifié";
    QTest::newRow("listen, 00") << true << "00" << "port 00";
    QTest::newRow("listen, empty field") << true << "" << "box Le port n'est pas specifié";
}

void TestMainWindow::portHandedOnAsTyped()
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
    const QString port = form->Session().Connection.PortText;
    QCOMPARE(box.isEmpty() ? "port " + port : box, outcome);
}

void TestMainWindow::connectionMenuFollowsTheState()
{
    auto form = OpenWindow("Marie");
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
void TestMainWindow::gameAsThePlayersSeeIt()
{
    auto alice = OpenWindow("Alice");
    auto bob = OpenWindow("Bob");
    alice->Session().Listen1Click("0");
    bob->Session().Connect1Click("127.0.0.1", QString::number(alice->Session().Connection.LocalPort()));
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
            for (int step = 0; step <= 12; ++step) {
                const QPoint from = CellCentre(*alice, 1, 1), to = CellCentre(*alice, 1, 4);
                const QPoint at = from + (to - from) * step / 12;
                line = line && alice->grab().toImage().pixelColor(at) == QColor(Qt::black);
            }
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

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
