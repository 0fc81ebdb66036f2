#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

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

// Runs the dialog modally and, once it is up, answers it as a person would: "t:<chars>"
// types, anything else is a key sequence. A dialog the steps leave open ends with -1.
int Answer(QDialog& form, const QStringList& steps)
{
    QTimer::singleShot(0, &form, [&form, steps] {
        if (!QTest::qWaitForWindowActive(&form))
            return form.done(-1);
        for (const QString& step : steps) {
            if (step.startsWith(u"t:"))
                QTest::keyClicks(QApplication::focusWidget(), step.mid(2));
            else
                QTest::keySequence(QApplication::focusWidget(), QKeySequence(step));
        }
        if (form.isVisible())
            form.done(-1);
    });
    return form.exec();
}

}  // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void texts_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QStringList>("texts");  // caption, then each control in layout order
        using L = QStringList;
        QTest::newRow("connect") << 2 << L{"Connectez...", "Adresse:", "Port:", "", "1024", "OK", "Annuler"};
        QTest::newRow("listen") << 3 << L{"Ecoutez", "Post:", "1024", "OK", "Annuler"};
        QTest::newRow("name") << 4 << L{"Nom", "Inscrivez votre nom:", "Joueur / Joueuse", "OK"};
        QTest::newRow("again") << 5 << L{"Jouez encore une fois", "Jouez encore une fois", "Deconnectez", ":message"};
    }
    void texts()
    {
        QFETCH(int, form);
        QFETCH(QStringList, texts);
        const std::unique_ptr<QDialog> dialog = MakeForm(form);
        QStringList shown{dialog->windowTitle()};
        for (const QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            shown << child->property("text").toString();
        QCOMPARE(shown, texts);
    }

    void answers_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("read");  // what the caller reads: the address or name, and the port
        using L = QStringList;
        QTest::newRow("connect: typed") << 2 << L{"t:127.0.0.1", "Tab", "t:2000", "Return"} << 1 << L{"127.0.0.1", "2000"};
        QTest::newRow("name: typing replaces") << 4 << L{"t:Alice", "Return"} << 1 << L{"Alice"};
        QTest::newRow("name: Escape ignored") << 4 << L{"Esc"} << -1 << L{"Joueur / Joueuse"};
        QTest::newRow("about: Escape ignored") << 6 << L{"Esc"} << -1 << L{};
    }
    void answers()
    {
        QFETCH(int, form);
        QFETCH(QStringList, steps);
        const std::unique_ptr<QDialog> dialog = MakeForm(form);
        QTEST(Answer(*dialog, steps), "result");
        QStringList read;
        for (const QLineEdit* edit : dialog->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
            read << edit->text();
        QTEST(read, "read");
    }

    // Two buttons of one width in the proportions of the 195-pixel dialog; the first caption is
    // meant to be wider than its button.
    void playAgainLayout()
    {
        TForm5 dialog;
        dialog.show();
        QCOMPARE(dialog.Button1->width(), dialog.Button2->width());
        QVERIFY(qAbs(dialog.Button1->width() * 195 - dialog.width() * 75) <= 3 * 195);
        QVERIFY(dialog.Button1->fontMetrics().horizontalAdvance(dialog.Button1->text()) > dialog.Button1->width());
    }

    void aboutBox()
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
        QCOMPARE(opened, (QStringList{"https://fr.wikipedia.org/wiki/Puissance_4", "https://fr.vikidia.org/wiki/Puissance_4"}));
        // Links point with a hand whose fingertip, on the hot spot, is drawn.
        QCOMPARE(dialog.Label6->cursor().hotSpot(), QPoint(0, 0));
        QCOMPARE(dialog.Label6->cursor().mask().toImage().pixelIndex(0, 0), 1);
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
