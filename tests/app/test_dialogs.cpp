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

// What the caller reads afterwards: the address or name, and the port.
QStringList Read(const QDialog& form)
{
    QStringList fields;
    for (const QLineEdit* edit : form.findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        fields << edit->text();
    return fields;
}

// Runs the dialog modally and, once it is up, answers it as a person would: "t:<chars>"
// types, "close" uses the close box, anything else is a key sequence. A dialog the
// steps leave open ends with -1.
int Answer(QDialog& form, const QStringList& steps)
{
    QTimer::singleShot(0, &form, [&form, steps] {
        if (!QTest::qWaitForWindowActive(&form))
            return form.done(-1);
        for (const QString& step : steps) {
            if (step == u"close")
                form.close();
            else if (step.startsWith(u"t:"))
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
        QTest::newRow("about") << 6 << L{"Concernant Tessaro", "OK", "", "Tessaro (En francais)",
                                         "Copyright © 2026 l'équipe Tessaro", "Écrit par l'équipe Tessaro. Les règles :",
                                         "https://fr.wikipedia.org/wiki/Puissance_4",
                                         "Traduit par l'équipe Tessaro. Pour les jeunes :",
                                         "https://fr.vikidia.org/wiki/Puissance_4"};
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
        QTest::addColumn<QStringList>("read");
        using L = QStringList;
        const QString name = QStringLiteral("Joueur / Joueuse");
        QTest::newRow("connect: Enter") << 2 << L{"Return"} << 1 << L{"", "1024"};
        QTest::newRow("connect: typed") << 2 << L{"t:127.0.0.1", "Tab", "t:2000", "Return"} << 1 << L{"127.0.0.1", "2000"};
        QTest::newRow("name: typing replaces") << 4 << L{"t:Alice", "Return"} << 1 << L{"Alice"};
        QTest::newRow("name: Escape ignored") << 4 << L{"Esc"} << -1 << L{name};
        QTest::newRow("again: Enter") << 5 << L{"Return"} << 1 << L{};
        QTest::newRow("about: Enter") << 6 << L{"Return"} << 1 << L{};
        QTest::newRow("about: Escape ignored") << 6 << L{"Esc"} << -1 << L{};
    }
    void answers()
    {
        QFETCH(int, form);
        QFETCH(QStringList, steps);
        QFETCH(int, result);
        QFETCH(QStringList, read);
        const std::unique_ptr<QDialog> dialog = MakeForm(form);
        QCOMPARE(Answer(*dialog, steps), result);
        QCOMPARE(Read(*dialog), read);
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
        QCOMPARE(opened, (QStringList{dialog.Label4->text(), dialog.Label6->text()}));
        for (int size : {16, 22, 24, 32, 48})
            QVERIFY(dialog.windowIcon().availableSizes().contains(QSize(size, size)));
        // Links point with a hand whose fingertip, on the hot spot, is drawn.
        QCOMPARE(dialog.Label6->cursor().hotSpot(), QPoint(0, 0));
        QCOMPARE(dialog.Label6->cursor().mask().toImage().pixelIndex(0, 0), 1);
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
