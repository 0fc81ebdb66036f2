#pragma once

#include "app/ModalForm.h"

class QLabel;
class QPushButton;
class TNumberEdit;

// The listen dialog: the port to listen on. The caller reads NumberEdit1's text
// when exec() returns mrOk.
class TForm3 : public TModalForm
{
    Q_OBJECT

public:
    explicit TForm3(QWidget* owner = nullptr);

    QLabel* Label2;
    TNumberEdit* NumberEdit1;
    QPushButton* Button1;
    QPushButton* Button2;

private:
    void FormCreate();
};
