#include "app/Unit5.h"

#include <QLabel>
#include <QPushButton>

TForm5::TForm5(QWidget* owner)
    : TModalForm(owner, 195, 97)
    , Button1(new QPushButton(QStringLiteral(":again"), this))
    , Button2(new QPushButton(QStringLiteral(":quit"), this))
    , Label1(new QLabel(QStringLiteral(":message"), this))
{
    setWindowTitle(QStringLiteral(":play_again"));
    PlaceLabel(Label1, 16, 16);
    // Both buttons keep the layout's width, though the first one's caption is wider.
    Place(Button1, 16, 56, 75, 25);
    Place(Button2, 104, 56, 75, 25);

    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    SetModalResult(Button2, mrCancel);
    SetCancelButton(Button2);
    setTabOrder(Button1, Button2);
    Button1->setFocus();

    FormCreate();
}

// Label1 is the caller's.
void TForm5::FormCreate()
{
    setWindowTitle(QStringLiteral("Jouez encore une fois"));
    Button1->setText(QStringLiteral("Jouez encore une fois"));
    Button2->setText(QStringLiteral("Deconnectez"));
}
