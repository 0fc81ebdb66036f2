#include "app/LevelDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr TLevel kDefaultLevel = TLevel::Moyen;  // a beginner can win, a good player must think

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

    for (std::string_view name : kLevelNames)
        ComboBox1->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    ComboBox1->setCurrentIndex(static_cast<int>(kDefaultLevel));
    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    SetModalResult(Button2, mrCancel);
    SetCancelButton(Button2);
    setTabOrder(ComboBox1, Button1);
    setTabOrder(Button1, Button2);
    ComboBox1->setFocus();

    FormCreate();
}

TLevel TLevelDialog::Level() const
{
    return static_cast<TLevel>(ComboBox1->currentIndex());
}

void TLevelDialog::FormCreate()
{
    setWindowTitle(QStringLiteral("Contre l'ordinateur"));
    Label1->setText(QStringLiteral("Niveau:"));
    Button1->setText(QStringLiteral("OK"));
    Button2->setText(QStringLiteral("Annuler"));
}
