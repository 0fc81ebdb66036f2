#include "app/Resources.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "controls/NumberEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<QDialog> MakeForm(int number)
{
    switch (number) {
    case 2: return std::make_unique<TForm2>();
    case 3: return std::make_unique<TForm3>();
    case 4: return std::make_unique<TForm4>();
    case 5: return std::make_unique<TForm5>();
    default: return std::make_unique<TForm6>();
    }
}

// What a caller reads afterwards: the address or name field, and the port field.
QString EditText(QDialog& form)
{
    if (auto* connect = qobject_cast<TForm2*>(&form))
        return connect->Edit1->text();
    if (auto* name = qobject_cast<TForm4*>(&form))
        return name->Edit1->text();
    return {};
}

QString PortText(QDialog& form)
{
    if (auto* connect = qobject_cast<TForm2*>(&form))
        return connect->NumberEdit1->text();
    if (auto* listen = qobject_cast<TForm3*>(&form))
        return listen->NumberEdit1->text();
    return {};
}

QString TextOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    return QStringLiteral("?");
}

struct TSeen
{
    QString Focus;
    QString Selected;
};

// "t:<chars>" types into the focused control, "paste" pastes there, "close" uses
// the close box, and a key name presses that key where the focus is.
void Perform(QDialog& form, const QString& step)
{
    if (!form.isVisible())
        return;
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : &form;
    if (step.startsWith(u"t:"))
        return QTest::keyClicks(focus, step.mid(2));
    if (step == u"paste")
        return QTest::keySequence(focus, QKeySequence::Paste);
    if (step == u"close") {
        form.close();
        return;
    }
    static const QHash<QString, Qt::Key> keys{{"Enter", Qt::Key_Return}, {"Escape", Qt::Key_Escape},
                                              {"Tab", Qt::Key_Tab}, {"Up", Qt::Key_Up},
                                              {"Back", Qt::Key_Backspace}, {"Space", Qt::Key_Space}};
    QTest::keyClick(focus, keys.value(step, Qt::Key_unknown));
}

// Runs the dialog modally and answers it as a person at the keyboard would, once
// it is up. A dialog the steps leave open is ended with -1, so a test never hangs.
int Answer(QDialog& form, const QStringList& steps, TSeen* seen = nullptr)
{
    QTimer::singleShot(0, &form, [&form, steps, seen] {
        if (QApplication::activeModalWidget() != &form || !QTest::qWaitForWindowActive(&form)) {
            form.done(-1);
            return;
        }
        if (seen) {
            seen->Focus = TextOf(QApplication::focusWidget());
            if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
                seen->Selected = edit->selectedText();
        }
        for (const QString& step : steps)
            Perform(form, step);
        if (form.isVisible())
            form.done(-1);
    });
    return form.exec();
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void opening_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QStringList>("texts"); // caption, then each control in layout order; "*" is free
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("selected");
        using L = QStringList;
        QTest::newRow("connect") << 2 << L{"Connectez...", "Adresse:", "Port:", "", "1024", "OK", "Annuler"} << ""
                                 << "";
        QTest::newRow("listen") << 3 << L{"Ecoutez", "Post:", "1024", "OK", "Annuler"} << "1024" << "1024";
        QTest::newRow("name") << 4 << L{"Nom", "Inscrivez votre nom:", "Joueur / Joueuse", "OK"} << "Joueur / Joueuse"
                              << "Joueur / Joueuse";
        QTest::newRow("play again") << 5 << L{"Jouez encore une fois", "Jouez encore une fois", "Deconnectez", ":message"}
                                    << "Jouez encore une fois" << "";
        QTest::newRow("about") << 6
                               << L{"Concernant Tessaro", "OK", "", "Tessaro (En francais)", "*", "*",
                                    TForm6::AuthorAddress, "*", TForm6::TranslatorAddress}
                               << "OK" << "";
    }
    void opening()
    {
        QFETCH(int, form);
        QFETCH(QStringList, texts);
        QFETCH(QString, focus);
        QFETCH(QString, selected);
        const std::unique_ptr<QDialog> dialog = MakeForm(form);
        QStringList shown{dialog->windowTitle()};
        for (const QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            shown << TextOf(child);
        for (qsizetype i = 0; i < texts.size() && i < shown.size(); ++i) {
            if (texts[i] == u"*")
                shown[i] = texts[i];
        }
        QCOMPARE(shown, texts);

        TSeen seen;
        QCOMPARE(Answer(*dialog, {"close"}, &seen), int(mrCancel));
        QCOMPARE(seen.Focus, focus);
        QCOMPARE(seen.Selected, selected);
    }

    void answers_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("port");
        using L = QStringList;
        const QString name = QStringLiteral("Joueur / Joueuse");
        QTest::newRow("connect: Enter") << 2 << L{"Enter"} << 1 << "" << "1024";
        QTest::newRow("connect: typed") << 2 << L{"t:127.0.0.1", "Tab", "t:2000", "Enter"} << 1 << "127.0.0.1" << "2000";
        QTest::newRow("connect: port filtered") << 2 << L{"Tab", "t:a-1", "Up", "Enter"} << 1 << "" << "0";
        QTest::newRow("connect: Escape") << 2 << L{"t:host", "Escape"} << 2 << "host" << "1024";
        QTest::newRow("connect: close box") << 2 << L{"close"} << 2 << "" << "1024";
        QTest::newRow("connect: Enter on Annuler") << 2 << L{"Tab", "Tab", "Tab", "Enter"} << 2 << "" << "1024";
        QTest::newRow("listen: typed") << 3 << L{"t:5000", "Enter"} << 1 << "" << "5000";
        QTest::newRow("listen: Escape") << 3 << L{"Escape"} << 2 << "" << "1024";
        QTest::newRow("name: Enter keeps") << 4 << L{"Enter"} << 1 << name << "";
        QTest::newRow("name: typing replaces") << 4 << L{"t:Alice", "Enter"} << 1 << "Alice" << "";
        QTest::newRow("name: empty") << 4 << L{"Back", "Enter"} << 1 << "" << "";
        QTest::newRow("name: Escape ignored") << 4 << L{"Escape", "Enter"} << 1 << name << "";
        QTest::newRow("name: close box") << 4 << L{"t:Bob", "close"} << 2 << "Bob" << "";
        QTest::newRow("again: Enter") << 5 << L{"Enter"} << 1 << "" << "";
        QTest::newRow("again: Space") << 5 << L{"Space"} << 1 << "" << "";
        QTest::newRow("again: Escape") << 5 << L{"Escape"} << 2 << "" << "";
        QTest::newRow("again: Enter on Deconnectez") << 5 << L{"Tab", "Enter"} << 2 << "" << "";
        QTest::newRow("again: close box") << 5 << L{"close"} << 2 << "" << "";
        QTest::newRow("about: Enter") << 6 << L{"Enter"} << 1 << "" << "";
        QTest::newRow("about: Escape ignored") << 6 << L{"Escape", "Escape", "Enter"} << 1 << "" << "";
        QTest::newRow("about: close box") << 6 << L{"close"} << 2 << "" << "";

        // Long input is handed on exactly as pasted, letters in the port field included.
        const QString pasted = QStringLiteral("9é").repeated(5000);
        QTest::newRow("connect: long paste") << 2 << L{"paste", "Tab", "paste", "Enter"} << 1 << pasted << pasted;
        QTest::newRow("listen: long paste") << 3 << L{"paste", "Enter"} << 1 << "" << pasted;
        QTest::newRow("name: long paste") << 4 << L{"paste", "Enter"} << 1 << pasted << "";
    }
    void answers()
    {
        QFETCH(int, form);
        QFETCH(QStringList, steps);
        QFETCH(int, result);
        QFETCH(QString, edit);
        QFETCH(QString, port);
        QGuiApplication::clipboard()->setText(QStringLiteral("9é").repeated(5000));
        const std::unique_ptr<QDialog> dialog = MakeForm(form);
        QCOMPARE(Answer(*dialog, steps), result);
        QCOMPARE(EditText(*dialog), edit);
        QCOMPARE(PortText(*dialog), port);
    }

    void playAgainShowsTheCallersMessage()
    {
        TForm5 dialog;
        // Shown twice, the second time with a longer text: the label follows it.
        for (const QString& message : {QStringLiteral("Vous avez perdu"), QStringLiteral("Vous avez perdu").repeated(3)}) {
            dialog.Label1->setText(message);
            QCOMPARE(Answer(dialog, {"Enter"}), int(mrOk));
            QCOMPARE(dialog.Label1->text(), message);
            QVERIFY(dialog.Label1->width() >= dialog.Label1->fontMetrics().horizontalAdvance(message));
            QVERIFY(dialog.rect().contains(dialog.Label1->geometry()));
        }
    }

    void aboutLinksOpenTheirAddress()
    {
        TForm6 dialog;
        QStringList opened;
        dialog.OpenUrl = [&opened](const QUrl& url) { opened << url.toString(); };
        bool stayedOpen = false;
        QTimer::singleShot(0, &dialog, [&] {
            QTest::mouseClick(dialog.Label4, Qt::LeftButton);
            QTest::mouseClick(dialog.Label6, Qt::RightButton);
            QTest::mouseClick(dialog.Label6, Qt::LeftButton);
            stayedOpen = dialog.isVisible();
            dialog.Button1->click();
        });
        QCOMPARE(dialog.exec(), int(mrOk));
        QVERIFY(stayedOpen);
        QCOMPARE(opened, (QStringList{dialog.Label4->text(), dialog.Label6->text()}));
        QCOMPARE(opened, (QStringList{TForm6::AuthorAddress, TForm6::TranslatorAddress}));
        for (const QLabel* link : {dialog.Label4, dialog.Label6}) {
            QVERIFY(link->font().underline());
            QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
            QCOMPARE(link->cursor().hotSpot(), HandCursor().hotSpot());
            QCOMPARE(link->cursor().bitmap().toImage(), HandCursor().bitmap().toImage());
        }
        QVERIFY(!dialog.Label1->font().underline());
    }

    // Every control lies inside the window, whatever the desktop font, and the
    // window keeps its size.
    void layoutFits_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("pointSize");
        for (const int form : {2, 3, 4, 5, 6}) {
            QTest::addRow("form %d, default font", form) << form << 0;
            QTest::addRow("form %d, large font", form) << form << 20;
        }
    }
    void layoutFits()
    {
        QFETCH(int, form);
        QFETCH(int, pointSize);
        struct TFontScope
        {
            const QFont Original = QApplication::font();
            ~TFontScope() { QApplication::setFont(Original); }
        } scope;
        QFont font = scope.Original;
        if (pointSize)
            font.setPointSize(pointSize);
        QApplication::setFont(font);
        const std::unique_ptr<QDialog> dialog = MakeForm(form);
        dialog->show();
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        // The buttons stay centred as drawn when a long text widens the window.
        int buttonsLeft = dialog->width();
        int buttonsRight = 0;
        for (const QPushButton* button : dialog->findChildren<QPushButton*>()) {
            buttonsLeft = std::min(buttonsLeft, button->x());
            buttonsRight = std::max(buttonsRight, button->geometry().right() + 1);
        }
        if (form != 3) // drawn off-centre
            QVERIFY(std::abs(buttonsLeft + buttonsRight - dialog->width()) <= 4);
        for (const QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (qobject_cast<const QPushButton*>(child) && form == 5)
                continue; // these buttons keep the layout's width however long their caption
            QVERIFY2(dialog->rect().contains(child->geometry()), qPrintable(TextOf(child)));
            if (qobject_cast<const QLabel*>(child))
                QVERIFY2(child->width() >= child->sizeHint().width(), qPrintable(TextOf(child)));
        }
        for (const TNumberEdit* edit : dialog->findChildren<TNumberEdit*>())
            QVERIFY(edit->height() >= edit->MinimumHeight());
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
