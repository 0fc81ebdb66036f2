// The main window offscreen: start-up, layout, status bar, menus, chat column, boxes, and two
// windows in one process exchanging packets while one of them has a box open.

#include "app/BoardView.h"
#include "app/Unit1.h"
#include "controls/FloatingPanel.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Answers the next modal window to appear, from inside its own event loop.
void AnswerNextModal(std::function<void(QWidget*)> answer)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->deleteLater();
            answer(modal);
        }
    });
    poll->start(10);
}

std::unique_ptr<TForm1> OpenWindow(const QString& name)
{
    AnswerNextModal([name](QWidget* prompt) {
        auto* edit = prompt->findChild<QLineEdit*>();
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

// Connecte, Deconnecte, Ecoute, Cessez d'écouter.
QList<bool> EnabledConnectionItems(const TForm1& form)
{
    return {form.Connect1->isEnabled(), form.Disconnect1->isEnabled(), form.Listen1->isEnabled(),
            form.StopListening1->isEnabled()};
}

void TypeChat(TForm1& form, const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    form.Memo1->setFocus();
    form.Memo1->insertPlainText(text);
    QTest::keyClick(form.Memo1, Qt::Key_Return, modifiers);
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startUp()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Tessaro"));
        QCOMPARE(form->Session().Match.LocalName, QStringLiteral("Marie"));
        QCOMPARE(form->Session().Match.RemoteName, QStringLiteral("aucun"));
        QCOMPARE(form->Session().Connection.ConnectionState, csNone);
        QCOMPARE(form->Session().Match.GameState, gsNone);

        const QStringList menuTexts{form->Game1->title(),       form->New1->text(),
                                    form->Exit1->text(),        form->Connection1->title(),
                                    form->Connect1->text(),     form->Disconnect1->text(),
                                    form->Listen1->text(),      form->StopListening1->text(),
                                    form->Help1->title(),       form->about1->text()};
        QCOMPARE(menuTexts, (QStringList{"&Jeu", "&Nouveau", "&Quitte", "&Connection", "&Connecte...",
                                         "&Deconnecte", "&Ecoute...", QStringLiteral("&Cessez d'écouter"),
                                         "&Aide", "&Concernant..."}));
        QCOMPARE(EnabledConnectionItems(*form), (QList<bool>{true, false, true, false}));
        QCOMPARE(form->StatusPanel0->text(), QStringLiteral("Status: pas connecté"));
        QCOMPARE(form->StatusPanel1->text(), QString());
        QVERIFY(!form->windowIcon().isNull());
    }

    void namePromptClosedKeepsTheFieldText()
    {
        AnswerNextModal([](QWidget* prompt) {
            auto* edit = prompt->findChild<QLineEdit*>();
            edit->clear();
            prompt->close();  // the close box
        });
        TForm1 form;
        QCOMPARE(form.Session().Match.LocalName, QString());
        TypeChat(form, QStringLiteral("x"));
        QCOMPARE(ChatLines(form).value(0), QStringLiteral(": x"));
    }

    void layoutStartsFromTheDesign()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        QCOMPARE(form->centralWidget()->size(), QSize(565, 355));
        QCOMPARE(form->FloatingPanel2->geometry(), QRect(400, 0, 165, 355));
        QCOMPARE(form->Panel1->size(), QSize(400, 355));
        QCOMPARE(form->PaintBox1->size(), QSize(398, 353));
        QCOMPARE(form->Memo2->geometry(), QRect(6, 1, 158, 294));
        QCOMPARE(form->Memo1->geometry(), QRect(6, 295, 158, 59));
        QVERIFY(!form->Memo2->isEnabled());
        QVERIFY(form->Memo2->isReadOnly());
    }

    void statusPanelFollowsTheBoardPanel_data()
    {
        QTest::addColumn<int>("windowWidth");
        QTest::addColumn<int>("chatWidth");
        QTest::newRow("as designed") << 565 << 165;
        QTest::newRow("wider window") << 900 << 165;
        QTest::newRow("chat panel dragged wider") << 565 << 300;
        QTest::newRow("chat panel dragged narrow") << 700 << 5;
    }
    void statusPanelFollowsTheBoardPanel()
    {
        QFETCH(int, windowWidth);
        QFETCH(int, chatWidth);
        auto form = OpenWindow(QStringLiteral("Marie"));
        form->resize(windowWidth, form->height());
        form->FloatingPanel2->resize(chatWidth, form->FloatingPanel2->height());
        form->centralWidget()->layout()->activate();
        QTRY_COMPARE(form->Panel1->width(), windowWidth - chatWidth);
        QTRY_COMPARE(form->StatusPanel0->width(), form->Panel1->width() + 1);
    }

    void chatInput_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("line");
        QTest::newRow("a line") << QStringLiteral("salut") << int(Qt::NoModifier) << QStringLiteral("Marie: salut");
        QTest::newRow("empty input") << QString() << int(Qt::NoModifier) << QStringLiteral("Marie: ");
        QTest::newRow("shift enter sends too") << QStringLiteral("oui") << int(Qt::ShiftModifier) << QStringLiteral("Marie: oui");
        QTest::newRow("accents") << QStringLiteral("déjà") << int(Qt::NoModifier) << QStringLiteral("Marie: déjà");
    }
    void chatInput()
    {
        QFETCH(QString, typed);
        QFETCH(int, modifiers);
        QFETCH(QString, line);
        auto form = OpenWindow(QStringLiteral("Marie"));
        TypeChat(*form, typed, Qt::KeyboardModifiers(modifiers));
        // Not connected: the line stays in the local log, nothing is asked or sent.
        QCOMPARE(ChatLines(*form), QStringList{line});
        QCOMPARE(form->Memo1->toPlainText(), QString());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void chatLogShowsTextLiterally_data()
    {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("shown");
        QTest::newRow("markup") << QStringLiteral("<b>Paul</b>: &amp;") << QStringLiteral("<b>Paul</b>: &amp;");
        QTest::newRow("line breaks") << QStringLiteral("a\r\nb") << QStringLiteral("a\u240D\u240Ab");
        QTest::newRow("other controls") << QStringLiteral("\x01\x1b[31m\x7f") << QStringLiteral("\u2401\u241B[31m\u2421");
    }
    void chatLogShowsTextLiterally()
    {
        QFETCH(QString, received);
        QFETCH(QString, shown);
        auto form = OpenWindow(QStringLiteral("Marie"));
        form->InsertChatLine(QStringLiteral("older"));
        form->InsertChatLine(received);
        QCOMPARE(ChatLines(*form), (QStringList{shown, QStringLiteral("older")}));
    }

    void chatLogKeepsTheNewestLines()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        for (int i = 0; i < TForm1::kMaxChatLines + 50; ++i)
            form->InsertChatLine(QString::number(i));
        const QStringList lines = ChatLines(*form);
        QCOMPARE(lines.size(), TForm1::kMaxChatLines);
        QCOMPARE(lines.first(), QString::number(TForm1::kMaxChatLines + 49));
        QCOMPARE(lines.last(), QStringLiteral("50"));

        form->InsertChatLine(QString(64 * 1024, QLatin1Char('x')));
        QCOMPARE(ChatLines(*form).first().size(), TForm1::kMaxChatLineLength);
    }

    void messageBoxes_data()
    {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("answer");
        QTest::newRow("plain OK") << unsigned(MB_OK) << Qt::Key_Return << int(QMessageBox::NoIcon) << int(IDOK);
        QTest::newRow("error icon") << unsigned(MB_ICONERROR) << Qt::Key_Return << int(QMessageBox::Critical) << int(IDOK);
        QTest::newRow("question, yes") << unsigned(MB_YESNO | MB_ICONSTOP) << Qt::Key_Return << int(QMessageBox::Critical) << int(IDYES);
        QTest::newRow("question, escape is no") << unsigned(MB_YESNO | MB_ICONSTOP) << Qt::Key_Escape << int(QMessageBox::Critical) << int(IDNO);
    }
    void messageBoxes()
    {
        QFETCH(unsigned, flags);
        QFETCH(Qt::Key, key);
        QFETCH(int, icon);
        QFETCH(int, answer);
        auto form = OpenWindow(QStringLiteral("Marie"));
        QString caption, text;
        int shownIcon = -1;
        AnswerNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->text();
            shownIcon = box->icon();
            QTest::keyClick(box, key);
        });
        QCOMPARE(form->MessageBox(QStringLiteral("Vous avez gagné!"), QStringLiteral("Tessaro"), flags), answer);
        QCOMPARE(caption, QStringLiteral("Tessaro"));
        QCOMPARE(text, QStringLiteral("Vous avez gagné!"));
        QCOMPARE(shownIcon, icon);
    }

    void quitClosesWithoutAQuestion()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        form->Session().Listen1Click(QStringLiteral("0"));
        QCOMPARE(form->Session().Connection.ConnectionState, csListening);
        form->Exit1->trigger();
        QVERIFY(!form->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void aboutBoxOpensAndCloses()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        QString caption;
        AnswerNextModal([&](QWidget* about) {
            caption = about->windowTitle();
            QTest::keyClick(about, Qt::Key_Return);
        });
        form->about1->trigger();
        QCOMPARE(caption, QStringLiteral("Concernant Tessaro"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void connectionMenuFollowsTheState()
    {
        auto form = OpenWindow(QStringLiteral("Marie"));
        form->Session().Listen1Click(QStringLiteral("0"));
        QCOMPARE(EnabledConnectionItems(*form), (QList<bool>{false, false, false, true}));
        QCOMPARE(form->StatusPanel0->text(), form->Session().Connection.ListenStatusText);

        form->StopListening1->trigger();
        QCOMPARE(EnabledConnectionItems(*form), (QList<bool>{true, false, true, false}));
        QCOMPARE(form->StatusPanel0->text(), QStringLiteral("Status: pas connecté"));
    }

    void packetsAreAppliedBehindAnOpenBox()
    {
        auto alice = OpenWindow(QStringLiteral("Alice"));
        auto bob = OpenWindow(QStringLiteral("Bob"));
        alice->Session().Listen1Click(QStringLiteral("0"));
        const QString port = QString::number(alice->Session().Connection.LocalPort());
        bob->Session().Connect1Click(QStringLiteral("127.0.0.1"), port);
        QTRY_COMPARE(alice->Session().Match.GameState, gsRemoteTurn);
        QTRY_COMPARE(bob->StatusPanel0->text(),
                     QStringLiteral("Status: Connecté à 127.0.0.1 sûr Port %1 - Votre tour").arg(port));
        QCOMPARE(bob->StatusPanel1->text(), QStringLiteral("Bob 0 - Alice 0"));
        QCOMPARE(ChatLines(*bob).value(0), QStringLiteral(":: Vous avez connecté à Alice"));

        // Alice reads the about box while Bob moves and talks: both land behind the box.
        bool seenBehindTheBox = false;
        AnswerNextModal([&](QWidget* about) {
            bob->PaintBox1->RepaintNow();
            QTest::mouseClick(bob->PaintBox1, Qt::LeftButton, {}, QPoint(5 + 56 * 3 + 20, 353 - 20));
            TypeChat(*bob, QStringLiteral("coucou"));
            seenBehindTheBox = QTest::qWaitFor([&] {
                return alice->Session().Match.Board.Cell(4, 1) == 2
                       && ChatLines(*alice).value(0) == QStringLiteral("Bob: coucou");
            }, 10000);
            QCOMPARE(QApplication::activeModalWidget(), about);
            QTest::keyClick(about, Qt::Key_Return);
        });
        alice->about1->trigger();
        QVERIFY(seenBehindTheBox);
        QCOMPARE(alice->Session().Match.GameState, gsLocalTurn);
        QCOMPARE(alice->StatusPanel0->text().endsWith(QStringLiteral("Votre tour")), true);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
