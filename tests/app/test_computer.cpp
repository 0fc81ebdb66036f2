// "Contre l'ordinateur..." in the real window offscreen: offered only when nothing is
// connected or listening, and the bot process it starts ends with the connection and the window.

#include "app/ComputerOpponent.h"
#include "app/LevelDialog.h"
#include "app/Unit1.h"
#include "support/ModalLoop.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

std::unique_ptr<TForm1> OpenWindow()
{
    QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    auto form = std::make_unique<TForm1>();
    form->ComputerOpponent->Program = QStringLiteral(TESSARO_BOT);
    form->show();
    return form;
}

// Clicks the item in the opened Jeu menu; true when the level dialog came, then answered.
bool ChooseComputer(TForm1& form)
{
    bool opened = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<TLevelDialog*>(QApplication::activeModalWidget())) {
            opened = true;
            dialog->ComboBox1->setCurrentIndex(0);
            QTest::keyClick(dialog, Qt::Key_Return);
        }
    });
    answer.start(10);
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

class TestComputer : public QObject
{
    Q_OBJECT

private slots:
    void offeredWhenIdleAndEndsWithConnectionAndWindow();
};

void TestComputer::offeredWhenIdleAndEndsWithConnectionAndWindow()
{
    auto form = OpenWindow();
    form->Session().Listen1Click(QStringLiteral("0"));
    QVERIFY(!ChooseComputer(*form));
    form->Session().StopListening1Click();
    const auto playing = [&] {
        return form->Session().Match.RemoteName == QStringLiteral("Ordinateur")
               && form->Session().Match.GameState == gsLocalTurn;
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

QTEST_MAIN(TestComputer)
#include "test_computer.moc"
