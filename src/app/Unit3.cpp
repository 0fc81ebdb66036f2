#include "app/Unit3.h"

#include "controls/NumberEdit.h"

#include <QLabel>
#include <QPushButton>

TForm3::TForm3(QWidget* owner)
    : TModalForm(owner, 217, 105)
    , Label2(new QLabel(QStringLiteral(":port"), this))
    , NumberEdit1(new TNumberEdit(this))
    , Button1(new QPushButton(QStringLiteral(":ok"), this))
    , Button2(new QPushButton(QStringLiteral(":cancel"), this))
{
    setWindowTitle(QStringLiteral(":listen"));
    PlaceLabel(Label2, 16, 21);
    Place(NumberEdit1, 72, 16, 49, 22);
    Place(Button1, 32, 64, 75, 25);
    Place(Button2, 120, 64, 75, 25);

    NumberEdit1->SetMinValue(0);
    NumberEdit1->SetMaxValue(0);
    NumberEdit1->SetValue(1024);
    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    SetModalResult(Button2, mrCancel);
    SetCancelButton(Button2);
    setTabOrder(NumberEdit1, Button1);
    setTabOrder(Button1, Button2);
    NumberEdit1->setFocus();

    FormCreate();
}

// "Post:", not "Port:": this dialog has always read so.
void TForm3::FormCreate()
{
    setWindowTitle(QStringLiteral("Ecoutez"));
    Label2->setText(QStringLiteral("Post:"));
    Button1->setText(QStringLiteral("OK"));
    Button2->setText(QStringLiteral("Annuler"));
}
