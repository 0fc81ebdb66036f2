#include "app/Unit6.h"

#include "app/Resources.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

// French pages on four in a row and its rules, shown and opened as they are.
const QString TForm6::AuthorAddress = QStringLiteral("https://fr.wikipedia.org/wiki/Puissance_4");
const QString TForm6::TranslatorAddress = QStringLiteral("https://fr.vikidia.org/wiki/Puissance_4");

TForm6::TForm6(QWidget* owner)
    : TModalForm(owner, 241, 177)
    , Button1(new QPushButton(QStringLiteral(":ok"), this))
    , Image1(new QLabel(this))
    , Label1(new QLabel(QStringLiteral(":application"), this))
    , Label2(new QLabel(QStringLiteral(":copyright"), this))
    , Label3(new QLabel(QStringLiteral(":byline"), this))
    , Label4(new QLabel(QStringLiteral(":web"), this))
    , Label5(new QLabel(QStringLiteral(":byline"), this))
    , Label6(new QLabel(QStringLiteral(":web"), this))
    , OpenUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    setWindowTitle(QStringLiteral(":about"));
    Image1->setPixmap(AppIconPixmap(32));
    PlaceLabel(Image1, 16, 16);
    PlaceLabel(Label1, 64, 16);
    PlaceLabel(Label2, 64, 32);
    PlaceLabel(Label3, 64, 56);
    PlaceLabel(Label4, 64, 72);
    PlaceLabel(Label5, 64, 96);
    PlaceLabel(Label6, 64, 112);
    Place(Button1, 83, 144, 75, 25);
    MakeLink(Label4);
    MakeLink(Label6);

    SetModalResult(Button1, mrOk);
    Button1->setFocus();

    FormCreate();
}

void TForm6::FormCreate()
{
    setWindowTitle(QStringLiteral("Concernant Tessaro"));
    Button1->setText(QStringLiteral("OK"));
    Label1->setText(QStringLiteral("%1 (%2)").arg(QStringLiteral("Tessaro"), QStringLiteral("En francais")));
    Label2->setText(QStringLiteral("Copyright © 2026 l'équipe Tessaro"));
    Label3->setText(QStringLiteral("Écrit par l'équipe Tessaro. Les règles :"));
    Label4->setText(AuthorAddress);
    Label4->setCursor(HandCursor());
    Label5->setText(QStringLiteral("Traduit par l'équipe Tessaro. Pour les jeunes :"));
    Label6->setText(TranslatorAddress);
    Label6->setCursor(HandCursor());
}

void TForm6::Label4Click(QObject* sender)
{
    Q_UNUSED(sender);
    OpenUrl(QUrl(AuthorAddress));
}

void TForm6::Label6Click(QObject* sender)
{
    Q_UNUSED(sender);
    OpenUrl(QUrl(TranslatorAddress));
}

// A click is a left press and release on the label, as with a button.
bool TForm6::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && (watched == Label4 || watched == Label6)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* label = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            if (watched == Label4)
                Label4Click(watched);
            else
                Label6Click(watched);
            return true;
        }
    }
    return TModalForm::eventFilter(watched, event);
}

// Links wear their own font, whatever the dialog's becomes.
void TForm6::MakeLink(QLabel* label)
{
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);
    label->installEventFilter(this);
}
