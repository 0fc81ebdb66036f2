#include "app/Unit4.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TForm4::TForm4(QWidget* owner)
    : TModalForm(owner, 209, 115)
    , Label1(new QLabel(QStringLiteral(":prompt"), this))
    , Edit1(new QLineEdit(QStringLiteral(":player"), this))
    , Button1(new QPushButton(QStringLiteral(":ok"), this))
{
    setWindowTitle(QStringLiteral(":name"));
    PlaceLabel(Label1, 16, 16);
    Place(Edit1, 16, 40, 177, 21);
    Place(Button1, 67, 72, 75, 25);

    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    setTabOrder(Edit1, Button1);
    Edit1->setFocus();

    FormCreate();
}

void TForm4::FormCreate()
{
    setWindowTitle(QStringLiteral("Nom"));
    Label1->setText(QStringLiteral("Inscrivez votre nom:"));
    Edit1->setText(QStringLiteral("Joueur / Joueuse"));
    Button1->setText(QStringLiteral("OK"));
}
