#include "controls/NumberEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

constexpr int kMax = std::numeric_limits<int>::max();
constexpr int kMin = std::numeric_limits<int>::min();

// A number field that beeps in silence and lets the test open its edit menu.
class TCountingNumberEdit : public TNumberEdit
{
public:
    using TNumberEdit::TNumberEdit;
    using TNumberEdit::CreateEditMenu;

protected:
    void Beep() override {}
};

// One step of a script: "t:<chars>" types, "i:<text>" commits text through an input method,
// "set:<n>" writes Value, "Popup" takes the focus away as a context menu does, "Paste" and "Cut"
// press every binding of that shortcut (Shift+Insert and the like), "MenuPaste" and "MenuCut"
// trigger the edit menu's item if enabled, and anything else is a key ("Tab" leaves the field).
void Perform(TCountingNumberEdit& edit, const QString& step)
{
    const bool paste = step.endsWith(u"Paste");
    if (step.startsWith(u"t:")) {
        QTest::keyClicks(&edit, step.mid(2));
    } else if (step.startsWith(u"i:")) {
        QInputMethodEvent commit;
        commit.setCommitString(step.mid(2));
        QApplication::sendEvent(&edit, &commit);
    } else if (step.startsWith(u"set:")) {
        edit.SetValue(step.mid(4).toInt());
    } else if (step == u"Popup") {
        QFocusEvent popupOut(QEvent::FocusOut, Qt::PopupFocusReason);
        QApplication::sendEvent(&edit, &popupOut);
    } else if (step.startsWith(u"Menu")) {
        const std::unique_ptr<QMenu> menu(edit.CreateEditMenu());
        const QString label = QCoreApplication::translate("QLineEdit", paste ? "&Paste" : "Cu&t");
        for (QAction* action : menu->actions())
            if (action->text().section(u'\t', 0, 0) == label && action->isEnabled())
                action->trigger();
    } else if (step == u"Paste" || step == u"Cut") {
        for (const QKeySequence& keys : QKeySequence::keyBindings(paste ? QKeySequence::Paste : QKeySequence::Cut))
            QTest::keySequence(&edit, keys);
    } else {
        QTest::keySequence(&edit, QKeySequence(step));
    }
}

} // namespace

class TestNumberEdit : public QObject
{
    Q_OBJECT

private slots:
    void textToNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("number"); // invalid when the text is unreadable
        QTest::newRow("plain") << "1024" << QVariant(1024);
        QTest::newRow("leading spaces") << "  -5" << QVariant(-5);
        QTest::newRow("largest") << "2147483647" << QVariant(kMax);
        QTest::newRow("smallest") << "-2147483648" << QVariant(kMin);
        QTest::newRow("hex ones") << "$FFFFFFFF" << QVariant(-1);
        for (const char* text : {"12 ", "", "-", "+-1", "2147483648", "-2147483649", "$", "$123456789", "-$5", "$12G"})
            QTest::newRow(text) << QString::fromLatin1(text) << QVariant();
        QTest::newRow("fullwidth") << QStringLiteral("１２") << QVariant();
    }
    void textToNumber()
    {
        QFETCH(QString, text);
        const auto read = TNumberEdit::TextToNumber(text);
        QTEST(read ? QVariant(*read) : QVariant(), "number");
    }

    void script_data()
    {
        QTest::addColumn<QString>("setup"); // "fixed", "readonly" or "<MinValue>..<MaxValue>"
        QTest::addColumn<QString>("start"); // a "|" marks the cursor, otherwise all is selected
        QTest::addColumn<QString>("steps"); // separated by spaces
        QTest::addColumn<QString>("expected");
        QTest::newRow("digit") << "" << "12|" << "t:3" << "123";
        QTest::newRow("refused chars") << "" << "12|" << "t:a.$ Space" << "12";
        QTest::newRow("input method") << "" << "|" << QStringLiteral("i:4é\U0001F6002") << "42";
        QTest::newRow("paste unfiltered") << "" << "1024" << "Paste" << "word!word!";
        QTest::newRow("up") << "" << "1024" << "Up" << "1025";
        QTest::newRow("wraps up") << "" << "2147483647" << "Up" << "-2147483648";
        QTest::newRow("fixed") << "fixed" << "10|24" << "t:5- Backspace Del Ctrl+Backspace Ctrl+Del" << "1024";
        QTest::newRow("fixed clipboard") << "fixed" << "1024" << "Paste Cut MenuPaste MenuCut" << "1024";
        QTest::newRow("read-only") << "readonly" << "1024" << "Up Down Paste MenuCut" << "1024";
        QTest::newRow("equal limits") << "7..7" << "" << "set:-2147483648" << "-2147483648";
        QTest::newRow("crossed, write at min") << "10..1" << "" << "set:10" << "1";
        QTest::newRow("range wrap") << "1..10" << "2147483647" << "Up" << "1";
        QTest::newRow("leave above") << "1..10" << "|" << "t:99 Popup t:9 Tab" << "10";
        QTest::newRow("leave below") << "1..10" << "|" << "t:0 Tab" << "1";
        QTest::newRow("leave zeros") << "1..10" << "|" << "t:007 Tab" << "007";
        QTest::newRow("leave, no range") << "" << "|" << "t:99999999999 Tab" << "99999999999";
    }
    void script()
    {
        QFETCH(QString, setup);
        QFETCH(QString, start);
        QFETCH(QString, steps);
        QGuiApplication::clipboard()->setText("word!");
        QWidget window; // with a second field to take the focus
        auto* edit = new TCountingNumberEdit(&window);
        new QLineEdit(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->SetEditorEnabled(setup != "fixed");
        edit->setReadOnly(setup == "readonly");
        edit->SetMinValue(setup.section("..", 0, 0).toInt());
        edit->SetMaxValue(setup.section("..", 1, 1).toInt());
        edit->setFocus();
        edit->setText(QString(start).remove('|'));
        if (start.contains('|'))
            edit->setCursorPosition(start.indexOf('|'));
        else
            edit->selectAll();
        for (const QString& step : steps.split(u' '))
            Perform(*edit, step);
        QTEST(edit->text(), "expected");
    }
};

QTEST_MAIN(TestNumberEdit)
#include "test_numberedit.moc"
