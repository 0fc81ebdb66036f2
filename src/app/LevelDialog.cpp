#include "app/LevelDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int kDefaultLevel = 1;  // "Moyen": a beginner can win, a good player must think

}  // namespace

TLevelDialog::TLevelDialog(QWidget* owner)
    : TModalForm(owner, 217, 105)
    , Label1(new QLabel(QStringLiteral(":level"), this))
    , ComboBox1(new QComboBox(this))
    , Button1(new QPushButton(QStringLiteral(":ok"), this))
    , Button2(new QPushButton(QStringLiteral(":cancel"), this))
{
    setWindowTitle(QStringLiteral(":computer"));
    PlaceLabel(Label1, 16, 21);
    Place(ComboBox1, 72, 16, 121, 22);
    Place(Button1, 32, 64, 75, 25);
    Place(Button2, 120, 64, 75, 25);

    ComboBox1->addItems(Levels());
    ComboBox1->setCurrentIndex(kDefaultLevel);
    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    SetModalResult(Button2, mrCancel);
    SetCancelButton(Button2);
    setTabOrder(ComboBox1, Button1);
    setTabOrder(Button1, Button2);
    ComboBox1->setFocus();

    FormCreate();
}

QStringList TLevelDialog::Levels()
{
    return {QStringLiteral("Débutant"), QStringLiteral("Moyen"), QStringLiteral("Fort"), QStringLiteral("Parfait")};
}

QString TLevelDialog::Level() const
{
    return ComboBox1->currentText();
}

void TLevelDialog::FormCreate()
{
    setWindowTitle(QStringLiteral("Contre l'ordinateur"));
    Label1->setText(QStringLiteral("Niveau:"));
    Button1->setText(QStringLiteral("OK"));
    Button2->setText(QStringLiteral("Annuler"));
}
