#include "app/Unit2.h"

#include "controls/NumberEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TForm2::TForm2(QWidget* owner)
    : TModalForm(owner, 225, 123)
    , Label1(new QLabel(QStringLiteral(":address"), this))
    , Label2(new QLabel(QStringLiteral(":port"), this))
    , Edit1(new QLineEdit(this))
    , NumberEdit1(new TNumberEdit(this))
    , Button1(new QPushButton(QStringLiteral(":ok"), this))
    , Button2(new QPushButton(QStringLiteral(":cancel"), this))
{
    setWindowTitle(QStringLiteral(":connect"));
    PlaceLabel(Label1, 16, 20);
    PlaceLabel(Label2, 16, 45);
    Place(Edit1, 72, 16, 121, 21);
    Place(NumberEdit1, 72, 40, 49, 22);
    Place(Button1, 32, 88, 75, 25);
    Place(Button2, 120, 88, 75, 25);

    NumberEdit1->SetMinValue(0);
    NumberEdit1->SetMaxValue(0);
    NumberEdit1->SetValue(1024);
    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    SetModalResult(Button2, mrCancel);
    SetCancelButton(Button2);
    setTabOrder(Edit1, NumberEdit1);
    setTabOrder(NumberEdit1, Button1);
    setTabOrder(Button1, Button2);
    Edit1->setFocus();

    FormCreate();
}

void TForm2::FormCreate()
{
    setWindowTitle(QStringLiteral("Connectez..."));
    Label1->setText(QStringLiteral("Adresse:"));
    Label2->setText(QStringLiteral("Port:"));
    Button1->setText(QStringLiteral("OK"));
    Button2->setText(QStringLiteral("Annuler"));
}
