#include "app/Resources.h"
#include "app/NetworkGamesDialog.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"

#include <QApplication>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Runs the dialog modally and, once it is up, answers it as a person would: "t:<chars>"
// types, "close" clicks the close box, anything else is a key sequence. A dialog the steps
// leave open ends with -1.
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

    // No system bus at all, whatever the machine has: nothing can be announced or found.
    const bool NoBus = qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    TServiceDiscovery NoDaemon;

private slots:
    // As the program starts, with the toolkit's own texts in French: ours stay as they are.
    void initTestCase() { InstallToolkitTranslation(); }

    // The texts as shown (caption, then each control in layout order), and what each dialog makes
    // of a person's answer.
    void answers_data()
    {
        QTest::addColumn<QDialog*>("form");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("texts");
        using L = QStringList;
        QTest::newRow("connect: typed") << static_cast<QDialog*>(new TForm2) << L{"t:127.0.0.1", "Tab", "t:2000", "Return"}
                                        << 1 << L{"Connectez...", "Adresse:", "Port:", "", "1024", "OK", "Annuler"};
        QTest::newRow("listen: Escape cancels") << static_cast<QDialog*>(new TForm3) << L{"Esc"} << 2
                                                << L{"Ecoutez", "Post:", "1024", "OK", "Annuler"};
        QTest::newRow("name: Escape ignored") << static_cast<QDialog*>(new TForm4) << L{"Esc"} << -1
                                              << L{"Nom", "Inscrivez votre nom:", "Joueur / Joueuse", "OK"};
        QTest::newRow("again: close box cancels")
            << static_cast<QDialog*>(new TForm5) << L{"close"} << 2
            << L{"Jouez encore une fois", "Jouez encore une fois", "Deconnectez", ":message"};
        QTest::newRow("network games: no daemon, nothing to choose")
            << static_cast<QDialog*>(new TNetworkGamesDialog(NoDaemon)) << L{"Return"} << 2
            << L{"Parties du réseau", "Recherche impossible: le service Avahi ne répond pas.", "OK", "Annuler"};
    }
    void answers()
    {
        QFETCH(QDialog*, form);
        const std::unique_ptr<QDialog> dialog(form);
        QStringList shown{dialog->windowTitle()};
        for (const QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(dialog.get()))
                shown << child->property("text").toString();
        QTEST(shown, "texts");
        QFETCH(QStringList, steps);
        QTEST(Answer(*dialog, steps), "result");
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

    // Left clicks on the links open their pages; the box stays.
    void aboutBoxLinks()
    {
        TForm6 dialog;
        QStringList opened;
        dialog.OpenUrl = [&opened](const QUrl& url) { opened << url.toString(); };
        dialog.show();
        QTest::mouseClick(dialog.Label4, Qt::LeftButton);
        QTest::mouseClick(dialog.Label6, Qt::RightButton);
        QTest::mouseClick(dialog.Label6, Qt::LeftButton);
        QVERIFY(dialog.isVisible());
        QCOMPARE(opened, (QStringList{"https://fr.wikipedia.org/wiki/Puissance_4", "https://fr.vikidia.org/wiki/Puissance_4"}));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
