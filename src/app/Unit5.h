#pragma once

#include "app/ModalForm.h"

class QLabel;
class QPushButton;

// The loser's question after a game: mrOk plays again, anything else disconnects.
// The caller sets Label1's text before exec().
class TForm5 : public TModalForm
{
    Q_OBJECT

public:
    explicit TForm5(QWidget* owner = nullptr);

    QPushButton* Button1;
    QPushButton* Button2;
    QLabel* Label1;

private:
    void FormCreate();
};
