#include "controls/NumberEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QVBoxLayout>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

constexpr int kMax = std::numeric_limits<int>::max();
constexpr int kMin = std::numeric_limits<int>::min();

class TCountingNumberEdit : public TNumberEdit
{
public:
    using TNumberEdit::TNumberEdit;
    using TNumberEdit::CreateEditMenu;
    int Beeps = 0;

protected:
    void Beep() override { ++Beeps; }
};

// Records the keys the edit leaves to its surroundings, as a dialog would see them.
class TKeyRecorder : public QWidget
{
public:
    QList<int> Keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { Keys.append(event->key()); }
};

// One step of a keyboard script: "t:<chars>" types, "k:<text>" sends one key
// event carrying that text, "i:<text>" commits it through an input method, and
// a plain name presses that key or standard shortcut ("All" before Paste or Cut:
// every binding of it, Shift+Insert and the like included).
void Perform(TCountingNumberEdit& edit, const QString& step)
{
    const QString arg = step.mid(2);
    if (step.startsWith(u"t:"))
        return QTest::keyClicks(&edit, arg);
    if (step.startsWith(u"k:")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, arg);
        QApplication::sendEvent(&edit, &press);
        return;
    }
    if (step.startsWith(u"i:")) {
        QInputMethodEvent commit;
        commit.setCommitString(arg);
        QApplication::sendEvent(&edit, &commit);
        return;
    }
    static const QHash<QString, QKeyCombination> keys{
        {"Up", Qt::Key_Up}, {"Down", Qt::Key_Down}, {"Back", Qt::Key_Backspace}, {"Del", Qt::Key_Delete},
        {"CtrlBack", Qt::ControlModifier | Qt::Key_Backspace}, {"CtrlDel", Qt::ControlModifier | Qt::Key_Delete}};
    if (keys.contains(step))
        return QTest::keyClick(&edit, keys[step].key(), keys[step].keyboardModifiers());
    const auto request = step.endsWith(u"Paste") ? QKeySequence::Paste : QKeySequence::Cut;
    const QList<QKeySequence> bindings = QKeySequence::keyBindings(request);
    for (const QKeySequence& binding : step.startsWith(u"All") ? bindings : bindings.mid(0, 1))
        QTest::keySequence(&edit, binding);
}

// A shown, active window holding the edit and a second field to take the focus.
struct TFocusRig
{
    QWidget Window;
    TCountingNumberEdit* Edit = new TCountingNumberEdit(&Window);
    QLineEdit* Other = new QLineEdit(&Window);

    TFocusRig()
    {
        auto* layout = new QVBoxLayout(&Window);
        layout->addWidget(Edit);
        layout->addWidget(Other);
        Window.show();
        Window.activateWindow();
    }
};

} // namespace

class TestNumberEdit : public QObject
{
    Q_OBJECT

private slots:
    void newControl()
    {
        TNumberEdit edit;
        QCOMPARE(edit.text(), "0");
        QCOMPARE(edit.MinValue(), 0);
        QCOMPARE(edit.MaxValue(), 0);
        QCOMPARE(edit.Increment(), 1);
        QVERIFY(edit.EditorEnabled() && edit.AutoSelect());
    }

    void textToNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("number"); // invalid when the text is unreadable
        const QVariant fails;
        QTest::newRow("plain") << "1024" << QVariant(1024);
        QTest::newRow("leading spaces") << "  -5" << QVariant(-5);
        QTest::newRow("plus, zeros") << "+007" << QVariant(7);
        QTest::newRow("long zeros") << "000000000000000042" << QVariant(42);
        QTest::newRow("largest") << "2147483647" << QVariant(kMax);
        QTest::newRow("smallest") << "-2147483648" << QVariant(kMin);
        QTest::newRow("hex ones") << "$FFFFFFFF" << QVariant(-1);
        QTest::newRow("hex lower") << "  $ff" << QVariant(255);
        QTest::newRow("hex sign bit") << "$80000000" << QVariant(kMin);
        for (const char* text : {"12 ", "", "  ", "-", "+", "+-1", "5-", "1 2", "\t5", "2147483648", "-2147483649",
                                 "99999999999999999999999", "$", "$123456789", "-$5", "+$5", "$-5", "$12G", "0x10",
                                 "1.5"})
            QTest::newRow(text) << QString::fromLatin1(text) << fails;
        QTest::newRow("fullwidth") << QStringLiteral("１２") << fails;
        QTest::newRow("arabic-indic") << QStringLiteral("١٢") << fails;
    }
    void textToNumber()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, number);
        const auto read = TNumberEdit::TextToNumber(text);
        QCOMPARE(read.has_value(), number.isValid());
        QCOMPARE(read.value_or(0), number.toInt());
    }

    void clampToRange_data()
    {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("expected");
        QTest::newRow("equal limits") << 7 << 7 << -100 << -100;
        QTest::newRow("no range, extreme") << 0 << 0 << kMin << kMin;
        QTest::newRow("below") << 1 << 10 << 0 << 1;
        QTest::newRow("above") << 1 << 10 << 50 << 10;
        QTest::newRow("inside") << 1 << 10 << 5 << 5;
        QTest::newRow("crossed, below min") << 10 << 1 << 0 << 10;
        QTest::newRow("crossed, between") << 10 << 1 << 5 << 10;
        QTest::newRow("crossed, at min") << 10 << 1 << 10 << 1;
        QTest::newRow("crossed, above") << 10 << 1 << 20 << 1;
    }
    void clampToRange()
    {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(int, n);
        QFETCH(int, expected);
        TNumberEdit edit;
        edit.SetMinValue(minValue);
        edit.SetMaxValue(maxValue);
        QCOMPARE(edit.ClampToRange(n), expected);
        edit.setText("+007");
        edit.SetValue(n);
        QCOMPARE(edit.text(), QString::number(expected));
    }

    void acceptedKey_data()
    {
        QTest::addColumn<bool>("editorEnabled");
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("refused");
        const QString controls = QString(QChar(0)) + "\x01\x03\x08\x16\x18\x1b\x1f";
        QTest::newRow("editable") << true << "0123456789+-" + controls << QStringLiteral("\r .$aZ\x7f\u00e9\uff11");
        QTest::newRow("fixed") << false << controls.mid(0, 3) + controls.mid(4) << QStringLiteral("\r\b05+-a");
    }
    void acceptedKey()
    {
        QFETCH(bool, editorEnabled);
        QFETCH(QString, accepted);
        QFETCH(QString, refused);
        TNumberEdit edit;
        edit.SetEditorEnabled(editorEnabled);
        for (const QChar c : accepted)
            QVERIFY2(edit.IsAcceptedKey(c), qPrintable(QString::number(c.unicode())));
        for (const QChar c : refused)
            QVERIFY2(!edit.IsAcceptedKey(c), qPrintable(QString::number(c.unicode())));
    }

    void keyboard_data()
    {
        QTest::addColumn<QString>("setup"); // "fixed", "readonly", "range" (1..10), "step:<n>"
        QTest::addColumn<QString>("start"); // a "|" marks the cursor, otherwise all is selected
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("beeps");
        using L = QStringList;
        QTest::newRow("digit") << "" << "12|" << L{"t:3"} << "123" << 0;
        QTest::newRow("refused chars") << "" << "12|" << L{"t:a. $"} << "12" << 4;
        QTest::newRow("signs anywhere") << "" << "1|2" << L{"t:+-"} << "1+-2" << 0;
        QTest::newRow("mixed key text") << "" << "|" << L{"k:1a2"} << "12" << 1;
        QTest::newRow("emoji beeps once") << "" << "|" << L{QStringLiteral("k:\U0001F600")} << "" << 1;
        QTest::newRow("input method") << "" << "|" << L{QStringLiteral("i:4é2")} << "42" << 1;
        QTest::newRow("paste unfiltered") << "" << "1024" << L{"Paste"} << "word!" << 0;
        QTest::newRow("cut") << "" << "1024" << L{"Cut"} << "" << 0;
        QTest::newRow("up") << "" << "1024" << L{"Up"} << "1025" << 0;
        QTest::newRow("down") << "" << "1024" << L{"Down"} << "1023" << 0;
        QTest::newRow("empty up") << "" << "" << L{"Up"} << "1" << 0;
        QTest::newRow("zeros up") << "" << "007" << L{"Up"} << "8" << 0;
        QTest::newRow("wraps up") << "" << "2147483647" << L{"Up"} << "-2147483648" << 0;
        QTest::newRow("wraps down") << "" << "-2147483648" << L{"Down"} << "2147483647" << 0;
        QTest::newRow("huge step") << "step:2147483647" << "2" << L{"Up"} << "-2147483647" << 0;
        QTest::newRow("minus smallest") << "step:-2147483648" << "0" << L{"Down"} << "-2147483648" << 0;
        QTest::newRow("range top") << "range" << "10" << L{"Up"} << "10" << 0;
        QTest::newRow("range wrap") << "range" << "2147483647" << L{"Up"} << "1" << 0;
        QTest::newRow("range word") << "range" << "abc" << L{"Up"} << "2" << 0;
        QTest::newRow("fixed typing") << "fixed" << "10|24" << L{"t:5-", "Back", "Del", "CtrlBack", "CtrlDel"} << "1024" << 6;
        QTest::newRow("fixed clipboard") << "fixed" << "1024" << L{"AllPaste", "AllCut"} << "1024" << 0;
        QTest::newRow("fixed steps") << "fixed" << "1024" << L{"Up", "Up", "Down"} << "1025" << 0;
        QTest::newRow("read-only") << "readonly" << "1024" << L{"Up", "Down", "AllPaste", "AllCut"} << "1024" << 2;
    }
    void keyboard()
    {
        QFETCH(QString, setup);
        QFETCH(QString, start);
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        QFETCH(int, beeps);
        QGuiApplication::clipboard()->setText("word!");
        TCountingNumberEdit edit;
        edit.SetEditorEnabled(setup != "fixed");
        edit.setReadOnly(setup == "readonly");
        if (setup == "range") {
            edit.SetMinValue(1);
            edit.SetMaxValue(10);
        }
        if (setup.startsWith("step:"))
            edit.SetIncrement(setup.mid(5).toInt());
        edit.setText(QString(start).remove('|'));
        if (start.contains('|'))
            edit.setCursorPosition(start.indexOf('|'));
        else
            edit.selectAll();
        for (const QString& step : steps)
            Perform(edit, step);
        QCOMPARE(edit.text(), expected);
        QCOMPARE(edit.Beeps, beeps);
    }

    void keysReachTheSurroundings()
    {
        struct TTracingEdit : TCountingNumberEdit
        {
            using TCountingNumberEdit::TCountingNumberEdit;
            QList<QObject*> Senders;
            void StepUp(QObject* sender) override { Senders.append(sender); }
            bool IsAcceptedKey(QChar key) const override { return key == u'.' || TNumberEdit::IsAcceptedKey(key); }
        };
        TKeyRecorder parent;
        auto* edit = new TTracingEdit(&parent);
        QTest::keyClicks(edit, "1.5");
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(edit, key);
        QCOMPARE(edit->text(), "-1"); // the base StepDown: "1.5" reads as MinValue
        QCOMPARE(edit->Senders, QList<QObject*>{edit});
        QCOMPARE(edit->Beeps, 0);
        QCOMPARE(parent.Keys, (QList<int>{Qt::Key_Up, Qt::Key_Down, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}));
    }

    void editMenu_data()
    {
        QTest::addColumn<bool>("editorEnabled");
        QTest::newRow("editable") << true;
        QTest::newRow("fixed") << false;
    }
    void editMenu()
    {
        QFETCH(bool, editorEnabled);
        QGuiApplication::clipboard()->setText("5");
        TCountingNumberEdit edit;
        edit.SetEditorEnabled(editorEnabled);
        edit.selectAll();
        const std::unique_ptr<QMenu> menu(edit.CreateEditMenu());
        menu->setParent(nullptr);
        QMap<QString, bool> enabled;
        for (const QAction* action : menu->actions())
            enabled[action->text().section('\t', 0, 0)] = action->isEnabled();
        QCOMPARE(enabled.value(QCoreApplication::translate("QLineEdit", "Cu&t")), editorEnabled);
        QCOMPARE(enabled.value(QCoreApplication::translate("QLineEdit", "&Paste")), editorEnabled);
        QCOMPARE(enabled.value(QCoreApplication::translate("QLineEdit", "&Copy")), true);
    }

    void focusGained_data()
    {
        QTest::addColumn<bool>("autoSelect");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("selected");
        QTest::newRow("tab") << true << "tab" << true;
        QTest::newRow("window activation") << true << "window" << true;
        QTest::newRow("program") << true << "other" << true;
        QTest::newRow("left click") << true << "left" << false;
        QTest::newRow("right press") << true << "right" << true;
        QTest::newRow("off, tab") << false << "tab" << false;
    }
    void focusGained()
    {
        QFETCH(bool, autoSelect);
        QFETCH(QString, how);
        QFETCH(bool, selected);
        TFocusRig rig;
        QVERIFY(QTest::qWaitForWindowActive(&rig.Window));
        rig.Edit->SetAutoSelect(autoSelect);
        rig.Edit->setText("1024");
        rig.Other->setFocus();
        if (how == "left" || how == "right")
            QTest::mouseClick(rig.Edit, how == "left" ? Qt::LeftButton : Qt::RightButton);
        else
            rig.Edit->setFocus(how == "tab" ? Qt::TabFocusReason
                               : how == "window" ? Qt::ActiveWindowFocusReason : Qt::OtherFocusReason);
        QVERIFY(rig.Edit->hasFocus());
        QCOMPARE(rig.Edit->selectedText(), selected ? "1024" : "");
    }

    void focusLost_data()
    {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("above") << 1 << 10 << "99" << "10";
        QTest::newRow("below") << 1 << 10 << "0" << "1";
        QTest::newRow("in range, zeros") << 1 << 10 << "007" << "007";
        QTest::newRow("lone sign reads as min") << 1 << 10 << "-" << "-";
        QTest::newRow("no range, sign") << 0 << 0 << "-" << "-";
        QTest::newRow("no range, overflow") << 0 << 0 << "99999999999" << "99999999999";
        QTest::newRow("crossed, number") << 10 << 1 << "5" << "10";
        QTest::newRow("crossed, unreadable") << 10 << 1 << "--" << "1";
    }
    void focusLost()
    {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        TFocusRig rig;
        QVERIFY(QTest::qWaitForWindowActive(&rig.Window));
        rig.Edit->SetMinValue(minValue);
        rig.Edit->SetMaxValue(maxValue);
        rig.Edit->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(rig.Edit, typed);
        // A context menu opening takes the focus only for a moment.
        QFocusEvent popupOut(QEvent::FocusOut, Qt::PopupFocusReason);
        QApplication::sendEvent(rig.Edit, &popupOut);
        QCOMPARE(rig.Edit->text(), typed);
        QTest::keyClick(rig.Edit, Qt::Key_Tab);
        QVERIFY(rig.Other->hasFocus());
        QCOMPARE(rig.Edit->text(), expected);
    }

    void minimumHeight_data()
    {
        QTest::addColumn<int>("pixelSize");
        QTest::newRow("small font") << 6;
        QTest::newRow("large font") << 40;
    }
    void minimumHeight()
    {
        QFETCH(int, pixelSize);
        TNumberEdit edit;
        QFont font = edit.font();
        font.setPixelSize(pixelSize);
        edit.setFont(font);
        const int own = QFontMetrics(font).height();
        const int desktop = QFontMetrics(QApplication::font()).height();
        // The quarter-line of room follows the smaller of the two fonts.
        const int expected = own + std::min(own, desktop) / 4 + 6;
        QCOMPARE(edit.MinimumHeight(), expected);
        edit.resize(49, 5);
        QCOMPARE(edit.height(), expected);
        edit.show();
        edit.setMinimumHeight(0);
        edit.resize(49, 3);
        QCOMPARE(edit.height(), expected);
    }
};

QTEST_MAIN(TestNumberEdit)
#include "test_numberedit.moc"
