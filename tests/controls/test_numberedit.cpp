#include "controls/NumberEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QtTest>

#include <climits>

namespace {

// One step of a script: "t:<chars>" types, "i:<text>" commits text through an input method,
// "set:<n>" writes Value, "Popup" takes the focus away as a context menu does, "Paste" and "Cut"
// press every binding of that shortcut (Shift+Insert and the like), and anything else is a key
// ("Tab" leaves the field).
void Perform(TNumberEdit& edit, const QString& step)
{
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
    } else if (step == u"Paste" || step == u"Cut") {
        for (const QKeySequence& keys : QKeySequence::keyBindings(step == "Paste" ? QKeySequence::Paste : QKeySequence::Cut))
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
        QTest::newRow("largest") << "2147483647" << QVariant(INT_MAX);
        QTest::newRow("smallest") << "-2147483648" << QVariant(INT_MIN);
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
        QTest::newRow("digits, no other chars") << "" << "12|" << "t:3a.$ Space" << "123";
        QTest::newRow("input method") << "" << "|" << QStringLiteral("i:4é\U0001F6002") << "42";
        QTest::newRow("paste unfiltered") << "" << "1024" << "Paste" << "word!word!";
        QTest::newRow("wraps up") << "" << "2147483647" << "Up" << "-2147483648";
        QTest::newRow("fixed") << "fixed" << "10|24" << "t:5- Backspace Del Ctrl+Backspace Ctrl+Del Paste Cut" << "1024";
        QTest::newRow("read-only") << "readonly" << "1024" << "Up Down Paste Cut" << "1024";
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
        auto* edit = new TNumberEdit(&window);
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
