#pragma once

#include "app/ModalForm.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TNumberEdit;

// The connect dialog: the peer's address or host name and its port. The caller
// reads Edit1 and NumberEdit1's text when exec() returns mrOk.
class TForm2 : public TModalForm
{
    Q_OBJECT

public:
    explicit TForm2(QWidget* owner = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* Edit1;
    TNumberEdit* NumberEdit1;
    QPushButton* Button1;
    QPushButton* Button2;

private:
    void FormCreate();
};
