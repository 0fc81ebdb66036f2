#include "controls/NumberEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QVBoxLayout>
#include <QtTest>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

class TCountingNumberEdit : public TNumberEdit
{
public:
    using TNumberEdit::TNumberEdit;
    using TNumberEdit::CreateEditMenu;

    int Beeps = 0;

protected:
    void Beep() override { ++Beeps; }
};

// Records the keys that the edit leaves to its parent, as a dialog would see them.
class TKeyRecorder : public QWidget
{
public:
    QList<int> Keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { Keys.append(event->key()); }
};

// A shown, active window with the edit and a second field to move the focus to.
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

    bool Ready() { return QTest::qWaitForWindowActive(&Window); }
};

void SendText(QWidget* target, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}

QMenu* EditMenu(TCountingNumberEdit& edit)
{
    QMenu* menu = edit.CreateEditMenu();
    menu->setParent(nullptr);
    return menu;
}

QAction* MenuItem(QMenu* menu, const char* label)
{
    for (QAction* action : menu->actions()) {
        if (action->text().section(QLatin1Char('\t'), 0, 0) == QCoreApplication::translate("QLineEdit", label))
            return action;
    }
    return nullptr;
}

} // namespace

class TestNumberEdit : public QObject
{
    Q_OBJECT

private slots:
    void newControlDefaults();

    void textToNumber_data();
    void textToNumber();
    void unreadableTextReadsAsMinValue();

    void writeValue_data();
    void writeValue();
    void clampToRange_data();
    void clampToRange();

    void acceptedKey_data();
    void acceptedKey();
    void typing_data();
    void typing();
    void typedTextWithSeveralCharacters_data();
    void typedTextWithSeveralCharacters();
    void enterGoesToTheParentWithoutBeep();
    void overriddenFilterIsUsed();

    void stepping_data();
    void stepping();
    void steppingGoesThroughTheVirtuals();
    void readOnlyStepsBeep();

    void fixedEditor_data();
    void fixedEditor();
    void fixedEditorStillSteps();
    void clipboardRequests_data();
    void clipboardRequests();
    void editMenuFollowsTheClipboardRule_data();
    void editMenuFollowsTheClipboardRule();

    void focusGainSelects_data();
    void focusGainSelects();
    void leftClickDoesNotSelect();
    void focusLoss_data();
    void focusLoss();
    void popupDoesNotCountAsFocusLoss();

    void minimumHeight_data();
    void minimumHeight();
    void heightGrowsBack();
};

void TestNumberEdit::newControlDefaults()
{
    TNumberEdit edit;
    QCOMPARE(edit.text(), QStringLiteral("0"));
    QCOMPARE(edit.MinValue(), 0);
    QCOMPARE(edit.MaxValue(), 0);
    QCOMPARE(edit.Increment(), 1);
    QVERIFY(edit.EditorEnabled());
    QVERIFY(edit.AutoSelect());
    QCOMPARE(edit.Value(), 0);
}

void TestNumberEdit::textToNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("expected");

    QTest::newRow("plain") << "1024" << true << 1024;
    QTest::newRow("leading spaces, minus") << "  -5" << true << -5;
    QTest::newRow("plus and zeros") << "+007" << true << 7;
    QTest::newRow("many leading zeros") << "0000000000000000000042" << true << 42;
    QTest::newRow("largest") << "2147483647" << true << kInt32Max;
    QTest::newRow("smallest") << "-2147483648" << true << kInt32Min;
    QTest::newRow("minus zero") << "-0" << true << 0;
    QTest::newRow("hex all ones") << "$FFFFFFFF" << true << -1;
    QTest::newRow("hex lower case") << "$ff" << true << 255;
    QTest::newRow("hex sign bit") << "$80000000" << true << kInt32Min;
    QTest::newRow("hex after spaces") << "  $1A" << true << 26;
    QTest::newRow("hex eight zeros") << "$00000000" << true << 0;

    QTest::newRow("trailing space") << "12 " << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("only spaces") << "   " << false << 0;
    QTest::newRow("lone minus") << "-" << false << 0;
    QTest::newRow("lone plus") << "+" << false << 0;
    QTest::newRow("two signs") << "+-1" << false << 0;
    QTest::newRow("sign after digits") << "5-" << false << 0;
    QTest::newRow("inner space") << "1 2" << false << 0;
    QTest::newRow("space after sign") << "- 1" << false << 0;
    QTest::newRow("tab is not a space") << "\t5" << false << 0;
    QTest::newRow("one past largest") << "2147483648" << false << 0;
    QTest::newRow("one past smallest") << "-2147483649" << false << 0;
    QTest::newRow("far too long") << "99999999999999999999999999" << false << 0;
    QTest::newRow("dollar alone") << "$" << false << 0;
    QTest::newRow("nine hex digits") << "$123456789" << false << 0;
    QTest::newRow("minus before dollar") << "-$5" << false << 0;
    QTest::newRow("plus before dollar") << "+$5" << false << 0;
    QTest::newRow("sign after dollar") << "$-5" << false << 0;
    QTest::newRow("not a hex digit") << "$12G" << false << 0;
    QTest::newRow("C-style hex") << "0x10" << false << 0;
    QTest::newRow("decimal point") << "1.5" << false << 0;
    QTest::newRow("fullwidth digits") << QStringLiteral("１２") << false << 0;
    QTest::newRow("arabic-indic digits") << QStringLiteral("١٢") << false << 0;
}

void TestNumberEdit::textToNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, readable);
    QFETCH(int, expected);

    const std::optional<std::int32_t> number = TNumberEdit::TextToNumber(text);
    QCOMPARE(number.has_value(), readable);
    if (readable)
        QCOMPARE(*number, expected);
}

void TestNumberEdit::unreadableTextReadsAsMinValue()
{
    TNumberEdit edit;
    edit.SetMinValue(5);
    edit.SetMaxValue(9);
    edit.setText(QStringLiteral("abc"));
    QCOMPARE(edit.Value(), 5);
    QCOMPARE(edit.text(), QStringLiteral("abc"));
}

void TestNumberEdit::writeValue_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("no range") << 0 << 0 << 1024 << "1024";
    QTest::newRow("negative") << 0 << 0 << -7 << "-7";
    QTest::newRow("smallest") << 0 << 0 << kInt32Min << "-2147483648";
    QTest::newRow("above range") << 1 << 10 << 50 << "10";
    QTest::newRow("below range") << 1 << 10 << -3 << "1";
    QTest::newRow("in range") << 1 << 10 << 4 << "4";
}

void TestNumberEdit::writeValue()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, value);
    QFETCH(QString, text);

    TNumberEdit edit;
    edit.SetMinValue(minValue);
    edit.SetMaxValue(maxValue);
    edit.setText(QStringLiteral("+007"));
    edit.SetValue(value);
    QCOMPARE(edit.text(), text);
}

void TestNumberEdit::clampToRange_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("expected");

    QTest::newRow("equal limits keep any number") << 7 << 7 << -100 << -100;
    QTest::newRow("zero limits keep the largest") << 0 << 0 << kInt32Max << kInt32Max;
    QTest::newRow("below") << 1 << 10 << 0 << 1;
    QTest::newRow("above") << 1 << 10 << 11 << 10;
    QTest::newRow("lower edge") << 1 << 10 << 1 << 1;
    QTest::newRow("upper edge") << 1 << 10 << 10 << 10;
    QTest::newRow("inside") << 1 << 10 << 5 << 5;
    QTest::newRow("crossed: below min gives min") << 10 << 1 << 0 << 10;
    QTest::newRow("crossed: between gives max") << 10 << 1 << 5 << 10;
    QTest::newRow("crossed: at min gives max") << 10 << 1 << 10 << 1;
    QTest::newRow("crossed: above min gives max") << 10 << 1 << 20 << 1;
    QTest::newRow("full range") << kInt32Min << kInt32Max << -3 << -3;
}

void TestNumberEdit::clampToRange()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, n);
    QFETCH(int, expected);

    TNumberEdit edit;
    edit.SetMinValue(minValue);
    edit.SetMaxValue(maxValue);
    QCOMPARE(edit.ClampToRange(n), expected);
}

void TestNumberEdit::acceptedKey_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("editorEnabled");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("digit 0") << int('0') << true << true;
    QTest::newRow("digit 9") << int('9') << true << true;
    QTest::newRow("plus") << int('+') << true << true;
    QTest::newRow("minus") << int('-') << true << true;
    QTest::newRow("backspace") << 8 << true << true;
    QTest::newRow("ctrl-V code") << 22 << true << true;
    QTest::newRow("NUL") << 0 << true << true;
    QTest::newRow("unit separator") << 31 << true << true;
    QTest::newRow("carriage return") << 13 << true << false;
    QTest::newRow("space") << int(' ') << true << false;
    QTest::newRow("point") << int('.') << true << false;
    QTest::newRow("dollar") << int('$') << true << false;
    QTest::newRow("letter") << int('a') << true << false;
    QTest::newRow("DEL") << 127 << true << false;
    QTest::newRow("e acute") << 0xE9 << true << false;
    QTest::newRow("fullwidth one") << 0xFF11 << true << false;

    QTest::newRow("fixed: digit") << int('5') << false << false;
    QTest::newRow("fixed: minus") << int('-') << false << false;
    QTest::newRow("fixed: backspace") << 8 << false << false;
    QTest::newRow("fixed: ctrl-C code") << 3 << false << true;
    QTest::newRow("fixed: ctrl-V code") << 22 << false << true;
    QTest::newRow("fixed: ctrl-X code") << 24 << false << true;
    QTest::newRow("fixed: carriage return") << 13 << false << false;
}

void TestNumberEdit::acceptedKey()
{
    QFETCH(int, code);
    QFETCH(bool, editorEnabled);
    QFETCH(bool, accepted);

    TNumberEdit edit;
    edit.SetEditorEnabled(editorEnabled);
    QCOMPARE(edit.IsAcceptedKey(QChar(char16_t(code))), accepted);
}

void TestNumberEdit::typing_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("beeps");

    QTest::newRow("digit") << "12" << 2 << "3" << "123" << 0;
    QTest::newRow("letter") << "12" << 2 << "a" << "12" << 1;
    QTest::newRow("point") << "12" << 2 << "." << "12" << 1;
    QTest::newRow("space") << "12" << 2 << " " << "12" << 1;
    QTest::newRow("dollar") << "12" << 2 << "$" << "12" << 1;
    QTest::newRow("minus in front") << "12" << 0 << "-" << "-12" << 0;
    QTest::newRow("plus in the middle") << "12" << 1 << "+" << "1+2" << 0;
    QTest::newRow("signs only") << "" << 0 << "-+-" << "-+-" << 0;
    QTest::newRow("letters between digits") << "" << 0 << "x3y4" << "34" << 2;
    QTest::newRow("a whole word") << "7" << 1 << "port" << "7" << 4;
}

void TestNumberEdit::typing()
{
    QFETCH(QString, start);
    QFETCH(int, cursor);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(int, beeps);

    TCountingNumberEdit edit;
    edit.setText(start);
    edit.setCursorPosition(cursor);
    QTest::keyClicks(&edit, typed);
    QCOMPARE(edit.text(), expected);
    QCOMPARE(edit.Beeps, beeps);
}

void TestNumberEdit::typedTextWithSeveralCharacters_data()
{
    QTest::addColumn<bool>("viaInputMethod");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("beeps");

    for (const bool viaInputMethod : {false, true}) {
        const char* via = viaInputMethod ? "input method: " : "key: ";
        QTest::addRow("%smixed", via) << viaInputMethod << "1a2" << "12" << 1;
        QTest::addRow("%saccented", via) << viaInputMethod << QStringLiteral("é") << "" << 1;
        QTest::addRow("%sone emoji beeps once", via) << viaInputMethod << QStringLiteral("\U0001F600") << "" << 1;
        QTest::addRow("%sdigits pass whole", via) << viaInputMethod << "-42" << "-42" << 0;
    }
}

void TestNumberEdit::typedTextWithSeveralCharacters()
{
    QFETCH(bool, viaInputMethod);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(int, beeps);

    TCountingNumberEdit edit;
    edit.clear();
    if (viaInputMethod) {
        QInputMethodEvent commit;
        commit.setCommitString(typed);
        QApplication::sendEvent(&edit, &commit);
    } else {
        SendText(&edit, typed);
    }
    QCOMPARE(edit.text(), expected);
    QCOMPARE(edit.Beeps, beeps);
}

void TestNumberEdit::enterGoesToTheParentWithoutBeep()
{
    TKeyRecorder parent;
    auto* edit = new TCountingNumberEdit(&parent);
    edit->setText(QStringLiteral("1024"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(edit->Beeps, 0);
    QCOMPARE(edit->text(), QStringLiteral("1024"));
    QCOMPARE(parent.Keys, (QList<int>{Qt::Key_Return, Qt::Key_Enter}));
}

void TestNumberEdit::overriddenFilterIsUsed()
{
    class TDecimalEdit : public TCountingNumberEdit
    {
    public:
        bool IsAcceptedKey(QChar key) const override
        {
            return key == u'.' || TCountingNumberEdit::IsAcceptedKey(key);
        }
    };

    TDecimalEdit edit;
    edit.clear();
    QTest::keyClicks(&edit, "1.5x");
    QCOMPARE(edit.text(), QStringLiteral("1.5"));
    QCOMPARE(edit.Beeps, 1);
}

void TestNumberEdit::stepping_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("increment");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("port up") << 0 << 0 << 1 << "1024" << int(Qt::Key_Up) << "1025";
    QTest::newRow("port down") << 0 << 0 << 1 << "1024" << int(Qt::Key_Down) << "1023";
    QTest::newRow("empty reads as 0") << 0 << 0 << 1 << "" << int(Qt::Key_Up) << "1";
    QTest::newRow("leading zeros go") << 0 << 0 << 1 << "007" << int(Qt::Key_Up) << "8";
    QTest::newRow("hex text") << 0 << 0 << 1 << "$FF" << int(Qt::Key_Up) << "256";
    QTest::newRow("unreadable with equal limits") << 5 << 5 << 1 << "abc" << int(Qt::Key_Up) << "6";
    QTest::newRow("wraps up") << 0 << 0 << 1 << "2147483647" << int(Qt::Key_Up) << "-2147483648";
    QTest::newRow("wraps down") << 0 << 0 << 1 << "-2147483648" << int(Qt::Key_Down) << "2147483647";
    QTest::newRow("huge increment wraps") << 0 << 0 << kInt32Max << "2" << int(Qt::Key_Up) << "-2147483647";
    QTest::newRow("subtracting the smallest") << 0 << 0 << kInt32Min << "0" << int(Qt::Key_Down) << "-2147483648";
    QTest::newRow("negative increment") << 0 << 0 << -10 << "5" << int(Qt::Key_Up) << "-5";
    QTest::newRow("stays at the top") << 1 << 10 << 1 << "10" << int(Qt::Key_Up) << "10";
    QTest::newRow("stays at the bottom") << 1 << 10 << 1 << "1" << int(Qt::Key_Down) << "1";
    QTest::newRow("wrap is clamped after") << 1 << 10 << 1 << "2147483647" << int(Qt::Key_Up) << "1";
}

void TestNumberEdit::stepping()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, increment);
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(QString, expected);

    TCountingNumberEdit edit;
    edit.SetMinValue(minValue);
    edit.SetMaxValue(maxValue);
    edit.SetIncrement(increment);
    edit.setText(start);
    QTest::keyClick(&edit, Qt::Key(key));
    QCOMPARE(edit.text(), expected);
    QCOMPARE(edit.Beeps, 0);
}

void TestNumberEdit::steppingGoesThroughTheVirtuals()
{
    class TTracingEdit : public TNumberEdit
    {
    public:
        using TNumberEdit::TNumberEdit;
        QList<QObject*> UpSenders;
        QList<QObject*> DownSenders;
        void StepUp(QObject* sender) override { UpSenders.append(sender); }
        void StepDown(QObject* sender) override { DownSenders.append(sender); }
    };

    TKeyRecorder parent;
    auto* edit = new TTracingEdit(&parent);
    QTest::keyClick(edit, Qt::Key_Up);
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->UpSenders, (QList<QObject*>{edit}));
    QCOMPARE(edit->DownSenders, (QList<QObject*>{edit, edit}));
    QCOMPARE(edit->text(), QStringLiteral("0"));
    // The keys are not consumed: the surroundings still see them.
    QCOMPARE(parent.Keys, (QList<int>{Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}));
}

void TestNumberEdit::readOnlyStepsBeep()
{
    TCountingNumberEdit edit;
    edit.setText(QStringLiteral("1024"));
    edit.setReadOnly(true);
    QTest::keyClick(&edit, Qt::Key_Up);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QStringLiteral("1024"));
    QCOMPARE(edit.Beeps, 2);
}

void TestNumberEdit::fixedEditor_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("digit") << int(Qt::Key_5) << int(Qt::NoModifier);
    QTest::newRow("minus") << int(Qt::Key_Minus) << int(Qt::NoModifier);
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << int(Qt::NoModifier);
    QTest::newRow("delete") << int(Qt::Key_Delete) << int(Qt::NoModifier);
    QTest::newRow("word backspace") << int(Qt::Key_Backspace) << int(Qt::ControlModifier);
    QTest::newRow("word delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier);
}

void TestNumberEdit::fixedEditor()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);

    TCountingNumberEdit edit;
    edit.SetEditorEnabled(false);
    edit.setText(QStringLiteral("1024"));
    edit.setCursorPosition(2);
    QTest::keyClick(&edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(edit.text(), QStringLiteral("1024"));
    QCOMPARE(edit.Beeps, 1);
}

void TestNumberEdit::fixedEditorStillSteps()
{
    TCountingNumberEdit edit;
    edit.SetEditorEnabled(false);
    edit.setText(QStringLiteral("1024"));
    QTest::keyClick(&edit, Qt::Key_Up);
    QTest::keyClick(&edit, Qt::Key_Up);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QStringLiteral("1025"));
    QCOMPARE(edit.Beeps, 0);
}

void TestNumberEdit::clipboardRequests_data()
{
    QTest::addColumn<bool>("editorEnabled");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("paste");
    QTest::addColumn<bool>("passes");

    // Pasted text is not filtered: a word of letters gets in.
    QTest::newRow("paste, editable") << true << false << true << true;
    QTest::newRow("cut, editable") << true << false << false << true;
    QTest::newRow("paste, fixed") << false << false << true << false;
    QTest::newRow("cut, fixed") << false << false << false << false;
    QTest::newRow("paste, read-only") << true << true << true << false;
    QTest::newRow("cut, read-only") << true << true << false << false;
}

void TestNumberEdit::clipboardRequests()
{
    QFETCH(bool, editorEnabled);
    QFETCH(bool, readOnly);
    QFETCH(bool, paste);
    QFETCH(bool, passes);

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("word!"));
    TCountingNumberEdit edit;
    edit.SetEditorEnabled(editorEnabled);
    edit.setReadOnly(readOnly);
    edit.setText(QStringLiteral("1024"));
    edit.selectAll();

    QTest::keySequence(&edit, paste ? QKeySequence::Paste : QKeySequence::Cut);
    // The other bindings of the same request, such as Shift+Insert, follow the same rule.
    const QList<QKeySequence> bindings = QKeySequence::keyBindings(paste ? QKeySequence::Paste : QKeySequence::Cut);
    if (!passes) {
        for (const QKeySequence& binding : bindings)
            QTest::keySequence(&edit, binding);
    }

    const QString expectedText = !passes ? QStringLiteral("1024") : paste ? QStringLiteral("word!") : QString();
    const QString expectedClipboard = passes && !paste ? QStringLiteral("1024") : QStringLiteral("word!");
    QCOMPARE(edit.text(), expectedText);
    QCOMPARE(clipboard->text(), expectedClipboard);
    QCOMPARE(edit.Beeps, 0);
}

void TestNumberEdit::editMenuFollowsTheClipboardRule_data()
{
    QTest::addColumn<bool>("editorEnabled");
    QTest::addColumn<bool>("available");

    QTest::newRow("editable") << true << true;
    QTest::newRow("fixed") << false << false;
}

void TestNumberEdit::editMenuFollowsTheClipboardRule()
{
    QFETCH(bool, editorEnabled);
    QFETCH(bool, available);

    QGuiApplication::clipboard()->setText(QStringLiteral("5"));
    TCountingNumberEdit edit;
    edit.SetEditorEnabled(editorEnabled);
    edit.setText(QStringLiteral("1024"));
    edit.selectAll();
    const std::unique_ptr<QMenu> menu(EditMenu(edit));
    QAction* cut = MenuItem(menu.get(), "Cu&t");
    QAction* paste = MenuItem(menu.get(), "&Paste");
    QAction* copy = MenuItem(menu.get(), "&Copy");
    QVERIFY(cut && paste && copy);
    QCOMPARE(cut->isEnabled(), available);
    QCOMPARE(paste->isEnabled(), available);
    QVERIFY(copy->isEnabled());
}

void TestNumberEdit::focusGainSelects_data()
{
    QTest::addColumn<bool>("autoSelect");
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("selected");

    QTest::newRow("tab") << true << int(Qt::TabFocusReason) << true;
    QTest::newRow("backtab") << true << int(Qt::BacktabFocusReason) << true;
    QTest::newRow("shortcut") << true << int(Qt::ShortcutFocusReason) << true;
    QTest::newRow("window activation") << true << int(Qt::ActiveWindowFocusReason) << true;
    QTest::newRow("program") << true << int(Qt::OtherFocusReason) << true;
    QTest::newRow("off: tab") << false << int(Qt::TabFocusReason) << false;
    QTest::newRow("off: program") << false << int(Qt::OtherFocusReason) << false;
}

void TestNumberEdit::focusGainSelects()
{
    QFETCH(bool, autoSelect);
    QFETCH(int, reason);
    QFETCH(bool, selected);

    TFocusRig rig;
    QVERIFY(rig.Ready());
    rig.Edit->SetAutoSelect(autoSelect);
    rig.Edit->setText(QStringLiteral("1024"));
    rig.Other->setFocus();
    rig.Edit->setFocus(Qt::FocusReason(reason));
    QVERIFY(rig.Edit->hasFocus());
    QCOMPARE(rig.Edit->selectedText(), selected ? QStringLiteral("1024") : QString());
}

void TestNumberEdit::leftClickDoesNotSelect()
{
    TFocusRig rig;
    QVERIFY(rig.Ready());
    rig.Edit->setText(QStringLiteral("1024"));
    rig.Other->setFocus();
    QTest::mouseClick(rig.Edit, Qt::LeftButton);
    QVERIFY(rig.Edit->hasFocus());
    QVERIFY(!rig.Edit->hasSelectedText());

    // Any other button is not the left-button press the rule spares.
    rig.Other->setFocus();
    QTest::mousePress(rig.Edit, Qt::RightButton);
    QVERIFY(rig.Edit->hasFocus());
    QCOMPARE(rig.Edit->selectedText(), QStringLiteral("1024"));
    QTest::mouseRelease(rig.Edit, Qt::RightButton);
}

void TestNumberEdit::focusLoss_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("above range") << 1 << 10 << "99" << "10";
    QTest::newRow("below range") << 1 << 10 << "0" << "1";
    QTest::newRow("in range keeps zeros") << 1 << 10 << "007" << "007";
    QTest::newRow("lone sign in range reads as min") << 1 << 10 << "-" << "-";
    QTest::newRow("no range: lone sign") << 0 << 0 << "-" << "-";
    QTest::newRow("no range: zeros") << 0 << 0 << "007" << "007";
    QTest::newRow("no range: overflow") << 0 << 0 << "99999999999" << "99999999999";
    QTest::newRow("crossed limits: number") << 10 << 1 << "5" << "10";
    QTest::newRow("crossed limits: unreadable") << 10 << 1 << "--" << "1";
}

void TestNumberEdit::focusLoss()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    TFocusRig rig;
    QVERIFY(rig.Ready());
    rig.Edit->SetMinValue(minValue);
    rig.Edit->SetMaxValue(maxValue);
    rig.Edit->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(rig.Edit, typed);
    QCOMPARE(rig.Edit->text(), typed);
    QTest::keyClick(rig.Edit, Qt::Key_Tab);
    QVERIFY(rig.Other->hasFocus());
    QCOMPARE(rig.Edit->text(), expected);
}

void TestNumberEdit::popupDoesNotCountAsFocusLoss()
{
    TFocusRig rig;
    QVERIFY(rig.Ready());
    rig.Edit->SetMinValue(1);
    rig.Edit->SetMaxValue(10);
    rig.Edit->setText(QStringLiteral("99"));
    QFocusEvent popupOut(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(rig.Edit, &popupOut);
    QCOMPARE(rig.Edit->text(), QStringLiteral("99"));
    QFocusEvent realOut(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(rig.Edit, &realOut);
    QCOMPARE(rig.Edit->text(), QStringLiteral("10"));
}

void TestNumberEdit::minimumHeight_data()
{
    QTest::addColumn<int>("pixelSize");

    QTest::newRow("small font") << 6;
    QTest::newRow("default-sized font") << QFontInfo(QApplication::font()).pixelSize();
    QTest::newRow("large font") << 40;
}

void TestNumberEdit::minimumHeight()
{
    QFETCH(int, pixelSize);

    TNumberEdit edit;
    QFont font = edit.font();
    font.setPixelSize(pixelSize);
    edit.setFont(font);
    const int own = QFontMetrics(font).height();
    const int application = QFontMetrics(QApplication::font()).height();
    // The quarter-line of extra room never exceeds that of the desktop's font.
    const int expected = own + (own < application ? own : application) / 4 + 4 + 2;
    QCOMPARE(edit.MinimumHeight(), expected);
    QCOMPARE(edit.minimumHeight(), expected);
    QVERIFY(edit.height() >= expected);
}

void TestNumberEdit::heightGrowsBack()
{
    TNumberEdit edit;
    edit.resize(49, 5);
    QCOMPARE(edit.height(), edit.MinimumHeight());
    edit.setGeometry(0, 0, 49, 1);
    QCOMPARE(edit.height(), edit.MinimumHeight());

    // Even with the floor lifted, a size below the minimum is corrected.
    edit.show();
    edit.setMinimumHeight(0);
    edit.resize(49, 3);
    QCOMPARE(edit.height(), edit.MinimumHeight());

    const int before = edit.MinimumHeight();
    QFont larger = edit.font();
    larger.setPixelSize(QFontInfo(larger).pixelSize() * 3);
    edit.setFont(larger);
    QVERIFY(edit.MinimumHeight() > before);
    QCOMPARE(edit.height(), edit.MinimumHeight());
}

QTEST_MAIN(TestNumberEdit)
#include "test_numberedit.moc"
