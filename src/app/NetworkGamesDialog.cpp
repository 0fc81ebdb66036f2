#include "app/NetworkGamesDialog.h"

#include "app/VisibleText.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace {

constexpr int kRefreshMs = 50;
constexpr qsizetype kMaxShownName = 255;  // a DNS name's length; names are never longer

}  // namespace

TNetworkGamesDialog::TNetworkGamesDialog(TServiceDiscovery& discovery, QWidget* owner)
    : TModalForm(owner, 400, 200)
    , ListView1(new QTreeWidget(this))
    , Label1(new QLabel(this))
    , Button1(new QPushButton(QStringLiteral(":ok"), this))
    , Button2(new QPushButton(QStringLiteral(":cancel"), this))
    , Browser(discovery)
{
    Place(ListView1, 8, 8, 384, 146);
    PlaceLabel(Label1, 16, 16);
    Place(Button1, 120, 166, 75, 25);
    Place(Button2, 205, 166, 75, 25);

    ListView1->setColumnCount(4);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ListView1->header()->setStretchLastSection(true);
    Button1->setDefault(true);
    SetModalResult(Button1, mrOk);
    SetModalResult(Button2, mrCancel);
    SetCancelButton(Button2);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { done(mrOk); });
    connect(ListView1, &QTreeWidget::currentItemChanged, this,
            [this] { Button1->setEnabled(ListView1->currentItem() != nullptr); });
    ListView1->setFocus();

    Refresh.setSingleShot(true);
    Refresh.setInterval(kRefreshMs);
    connect(&Refresh, &QTimer::timeout, this, &TNetworkGamesDialog::ShowGames);
    connect(&Browser, &TGameBrowser::Changed, &Refresh, qOverload<>(&QTimer::start));

    FormCreate();
    ShowGames();
}

void TNetworkGamesDialog::FormCreate()
{
    setWindowTitle(QStringLiteral("Parties du réseau"));
    ListView1->setHeaderLabels({QStringLiteral("Joueur"), QStringLiteral("Machine"), QStringLiteral("Adresse"),
                                QStringLiteral("Port")});
    Label1->setText(QStringLiteral("Recherche impossible: le service Avahi ne répond pas."));
    Button1->setText(QStringLiteral("OK"));
    Button2->setText(QStringLiteral("Annuler"));
}

// The list is redrawn whole; the game the player has picked stays picked while others come and go.
void TNetworkGamesDialog::ShowGames()
{
    const bool unavailable = Browser.Unavailable();
    const bool changed = ListView1->isHidden() != unavailable;
    Label1->setHidden(!unavailable);
    ListView1->setHidden(unavailable);
    // Escape and Enter must reach the dialog even when there is no list to hold the focus.
    if (changed)
        (unavailable ? static_cast<QWidget*>(Button2) : ListView1)->setFocus();
    const std::optional<TNetworkGame> picked = Chosen();
    Shown = Browser.Games();
    ListView1->clear();
    QTreeWidgetItem* current = nullptr;
    for (const TNetworkGame& game : Shown) {
        auto* item = new QTreeWidgetItem(ListView1, {ShowControlCharacters(game.Name, kMaxShownName),
                                                     ShowControlCharacters(game.HostName, kMaxShownName),
                                                     game.Address, QString::number(game.Port)});
        if (picked && picked->Name == game.Name && picked->HostName == game.HostName)
            current = item;
    }
    if (!current)
        current = ListView1->topLevelItem(0);
    ListView1->setCurrentItem(current);
    Button1->setEnabled(current != nullptr);
}

std::optional<TNetworkGame> TNetworkGamesDialog::Chosen() const
{
    const int row = ListView1->currentItem() ? ListView1->indexOfTopLevelItem(ListView1->currentItem()) : -1;
    if (row < 0 || row >= Shown.size())
        return std::nullopt;
    return Shown[row];
}
