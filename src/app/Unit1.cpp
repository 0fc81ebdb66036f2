#include "app/Unit1.h"

#include "app/BoardView.h"
#include "app/ComputerOpponent.h"
#include "app/LevelDialog.h"
#include "app/NetworkGamesDialog.h"
#include "app/Resources.h"
#include "app/StatusBar.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "app/VisibleText.h"
#include "controls/DockLayout.h"
#include "controls/FloatingPanel.h"
#include "controls/NumberEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

// Starting geometry of the layout, in pixels.
constexpr int kClientWidth = 565;
constexpr int kClientHeight = 355;  // above the status bar
constexpr int kChatPanelWidth = 165;
constexpr int kChatInputHeight = 59;
// New chat lines are shown at most this often: faster than anyone reads, slow enough that a
// flood of lines is shown in a few edits of the log.
constexpr int kChatRefreshMilliseconds = 25;

// What the board tells accessibility tools: whose turn it is, then the last move.
constexpr QStringView kBoardName = u"Plateau";
constexpr QStringView kBoardDescription = u"%1. %2";
constexpr QStringView kLastMove = u"Dernier coup : colonne %1 (%2)";
constexpr QStringView kNoMoveYet = u"Aucun coup joué";
constexpr QStringView kYou = u"vous";

QString VisibleText(const QString& text)
{
    return ShowControlCharacters(text, TForm1::kMaxChatLineLength);
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent)
{
    FormCreate();
}

TForm1::~TForm1()
{
    // The session (and its sockets) go first: nothing may reach the widgets while they are torn down.
    Session_.reset();
}

void TForm1::CreateComponents()
{
    setWindowIcon(AppIcon());
    CreateMenu();
    CreateStatusBar();

    auto* client = new QWidget(this);
    auto* dock = new TDockLayout(client);
    CreateChatPanel();
    CreateBoardPanel();
    FloatingPanel2->setParent(client);
    Panel1->setParent(client);
    dock->addWidget(FloatingPanel2, alRight);
    dock->addWidget(Panel1, alClient);
    setCentralWidget(client);

    // Start from the layout's client size.
    CentreOnScreen(kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

void TForm1::CentreOnScreen(int height)
{
    resize(kClientWidth, height);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TForm1::CreateMenu()
{
    // The layout's caption keys; FormCreate replaces them with the French texts.
    Game1 = menuBar()->addMenu(QStringLiteral(":game"));
    New1 = Game1->addAction(QStringLiteral(":new"), this, &TForm1::New1Click);
    Computer1 = Game1->addAction(QStringLiteral(":computer"), this, &TForm1::Computer1Click);
    N1 = Game1->addSeparator();
    Exit1 = Game1->addAction(QStringLiteral(":exit"), this, &TForm1::Exit1Click);
    Connection1 = menuBar()->addMenu(QStringLiteral(":connection"));
    Connect1 = Connection1->addAction(QStringLiteral(":connect"), this, &TForm1::Connect1Click);
    NetworkGames1 = Connection1->addAction(QStringLiteral(":networkgames"), this, &TForm1::NetworkGames1Click);
    Disconnect1 = Connection1->addAction(QStringLiteral(":disconnect"), this, &TForm1::Disconnect1Click);
    Listen1 = Connection1->addAction(QStringLiteral(":listen"), this, &TForm1::Listen1Click);
    StopListening1 = Connection1->addAction(QStringLiteral(":stoplistening"), this,
                                            &TForm1::StopListening1Click);
    Help1 = menuBar()->addMenu(QStringLiteral(":help"));
    about1 = Help1->addAction(QStringLiteral(":about"), this, &TForm1::about1Click);
    Disconnect1->setEnabled(false);
    StopListening1->setEnabled(false);
}

void TForm1::CreateStatusBar()
{
    StatusBar1 = new TStatusBar(this);
    StatusPanel0 = StatusBar1->Panel0;
    StatusPanel1 = StatusBar1->Panel1;
    setStatusBar(StatusBar1);
}

void TForm1::CreateChatPanel()
{
    FloatingPanel2 = new TFloatingPanel(this);
    FloatingPanel2->SetHandleType(htNone);
    FloatingPanel2->SetHandleOrientation(hoTop);
    FloatingPanel2->SetCloseButton(false);
    FloatingPanel2->SetResizeBar(true);
    FloatingPanel2->SetBarWidth(5);
    FloatingPanel2->SetBevel(false);
    FloatingPanel2->resize(kChatPanelWidth, kClientHeight);

    Memo2 = new QPlainTextEdit(FloatingPanel2);
    Memo2->setReadOnly(true);
    Memo2->setUndoRedoEnabled(false);  // every inserted line would stay in the undo history
    Memo2->setEnabled(false);
    Memo2->setFocusPolicy(Qt::NoFocus);
    // The log is disabled so it cannot be scrolled or selected, but it must stay readable.
    QPalette readable = Memo2->palette();
    readable.setColor(QPalette::Disabled, QPalette::Text, readable.color(QPalette::Active, QPalette::Text));
    readable.setColor(QPalette::Disabled, QPalette::Base, readable.color(QPalette::Active, QPalette::Base));
    Memo2->setPalette(readable);
    ChatFlush.setSingleShot(true);
    ChatFlush.setInterval(kChatRefreshMilliseconds);
    connect(&ChatFlush, &QTimer::timeout, this, &TForm1::ShowPendingChat);

    Memo1 = new QPlainTextEdit(FloatingPanel2);
    Memo1->resize(Memo1->width(), kChatInputHeight);
    Memo1->setTabChangesFocus(true);  // Tab leads to the board; it never travels as a chat character
    Memo1->installEventFilter(this);

    for (QPlainTextEdit* memo : {Memo2, Memo1}) {
        memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    FloatingPanel2->ChildLayout()->addWidget(Memo2, alClient);
    FloatingPanel2->ChildLayout()->addWidget(Memo1, alBottom);
}

void TForm1::CreateBoardPanel()
{
    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->installEventFilter(this);

    PaintBox1 = new TBoardView(Panel1);
    auto* inside = new QVBoxLayout(Panel1);
    inside->setContentsMargins(0, 0, 0, 0);  // the frame itself keeps the 1-pixel bevel
    inside->setSpacing(0);
    inside->addWidget(PaintBox1);
}

void TForm1::FormCreate()
{
    Session_ = std::make_unique<TSession>(*this);
    Discovery = new TServiceDiscovery(this);
    CreateComputerOpponent();

    // Only the window's own title: an application display name would be appended to
    // every dialog's title by the toolkit.
    setWindowTitle(TSession::ApplicationTitle());

    // The prompt is all the player sees at first: it comes up before the rest of the window
    // is built, and centres itself on the window's place on the screen.
    CentreOnScreen(kClientHeight);
    AskLocalName();
    CreateComponents();

    PaintBox1->LocalColor = QColor(255, 255, 0);
    PaintBox1->RemoteColor = QColor(255, 0, 0);
    PaintBox1->BackgroundColor = QColor(0, 0, 255);
    PaintBox1->HoleColor = QColor(255, 255, 255);
    PaintBox1->SetBoard(&Session_->Match.Board);
    PaintBox1->OnCellPressed = [this](int column, int row) { Session_->PlayLocalMove(column, row); };
    PaintBox1->setAccessibleName(kBoardName.toString());

    SetMenuTexts();

    Session_->Match.GameState = gsNone;
    Session_->UpdateStatus();
}

void TForm1::AskLocalName()
{
    TForm4 prompt(this);
    prompt.exec();
    // Whatever the answer, even the close box, the field's text is the name.
    Session_->Match.LocalName = prompt.Edit1->text();
    Session_->Match.RemoteName = TMatchFlow::NoOpponentName();
}

void TForm1::SetMenuTexts()
{
    Game1->setTitle(QStringLiteral("&Jeu"));
    New1->setText(QStringLiteral("&Nouveau"));
    Computer1->setText(QStringLiteral("&Contre l'ordinateur..."));
    Exit1->setText(QStringLiteral("&Quitte"));
    Connection1->setTitle(QStringLiteral("&Connection"));
    Connect1->setText(QStringLiteral("&Connecte..."));
    NetworkGames1->setText(QStringLiteral("&Parties du réseau..."));
    Disconnect1->setText(QStringLiteral("&Deconnecte"));
    Listen1->setText(QStringLiteral("&Ecoute..."));
    StopListening1->setText(QStringLiteral("&Cessez d'écouter"));
    Help1->setTitle(QStringLiteral("&Aide"));
    about1->setText(QStringLiteral("&Concernant..."));
}

void TForm1::RepaintBoard()
{
    PaintBox1->RepaintNow();
    DescribeBoard();
}

void TForm1::DrawWinLine(int col1, int row1, int col2, int row2)
{
    PaintBox1->DrawWinLine(col1, row1, col2, row2);
}

void TForm1::ShowStatus(const TStatusTexts& status)
{
    SetConnectionMenu(status.ConnectEnabled, status.DisconnectEnabled, status.ListenEnabled,
                      status.StopListeningEnabled);
    StatusPanel0->setText(VisibleText(status.Panel0));
    StatusPanel1->setText(VisibleText(status.Panel1));
    DescribeBoard();
    ShowComputerOpponentState();
}

void TForm1::DescribeBoard()
{
    QString lastMove = kNoMoveYet.toString();
    if (const std::optional<TBoardMove> move = PaintBox1->LastMove()) {
        const QString who = move->Value == cvLocal ? kYou.toString() : Session_->Match.RemoteName;
        lastMove = kLastMove.toString().arg(move->Column).arg(VisibleText(who));
    }
    PaintBox1->setAccessibleDescription(kBoardDescription.arg(VisibleText(Session_->GameText()), lastMove));
}

void TForm1::SetConnectionMenu(bool connectEnabled, bool disconnectEnabled, bool listenEnabled,
                               bool stopListeningEnabled)
{
    Connect1->setEnabled(connectEnabled);
    NetworkGames1->setEnabled(connectEnabled);
    Disconnect1->setEnabled(disconnectEnabled);
    Listen1->setEnabled(listenEnabled);
    StopListening1->setEnabled(stopListeningEnabled);
}

void TForm1::InsertChatLine(const QString& line)
{
    // Lines join the log in slices, one edit for however many came meanwhile: laying out each
    // line of a peer's flood on its own would hold up the packets behind it (a move) for as
    // long. Only the newest lines can show, so no more are kept waiting.
    PendingChat.append(VisibleText(line));
    if (PendingChat.size() > kMaxChatLines)
        PendingChat.removeFirst();
    if (!ChatFlush.isActive())
        ChatFlush.start();
}

void TForm1::ShowPendingChat()
{
    QString text;  // newest on top
    for (qsizetype i = PendingChat.size() - 1; i >= 0; --i)
        text += PendingChat[i] + QChar('\n');
    PendingChat.clear();
    QTextDocument* log = Memo2->document();
    if (log->isEmpty())
        text.chop(1);
    QTextCursor cursor(log);
    cursor.beginEditBlock();
    cursor.insertText(text);
    // The surplus is cut from the bottom, with the line break before it.
    if (log->blockCount() > kMaxChatLines) {
        cursor.setPosition(log->findBlockByNumber(kMaxChatLines - 1).position());
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
    Memo2->verticalScrollBar()->setValue(0);
}

int TForm1::MessageBox(const QString& text, const QString& caption, unsigned flags)
{
    QMessageBox box(this);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setIcon((flags & MB_ICONERROR) ? QMessageBox::Critical : QMessageBox::NoIcon);
    if (IsYesNo(flags)) {
        box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == no || box.clickedButton() == nullptr ? IDNO : IDYES;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

int TForm1::ShowPlayAgain(const QString& message)
{
    TForm5 dialog(this);
    dialog.Label1->setText(message);
    return dialog.exec();
}

void TForm1::ListeningChanged(std::uint16_t port)
{
    Discovery->ListeningChanged(port, Session_->Match.LocalName);
    PortMapping.ListeningChanged(port);
}

void TForm1::New1Click()
{
    Session_->New1Click();
}

void TForm1::Computer1Click()
{
    TLevelDialog dialog(this);
    if (dialog.exec() != mrOk || Session_->State() != csNone)
        return;
    ComputerOpponent->Start(dialog.Level());
    ShowComputerOpponentState();
}

// The bot connects like any peer, so names, scores, chat and new games work as with a person.
void TForm1::CreateComputerOpponent()
{
    ComputerOpponent = new TComputerOpponent(this);
    connect(ComputerOpponent, &TComputerOpponent::Listening, this, [this](quint16 port) {
        Session_->Connect(QStringLiteral("127.0.0.1"), QString::number(port));
    });
    connect(ComputerOpponent, &TComputerOpponent::Failed, this, [this](const QString& message) {
        ShowComputerOpponentState();
        MessageBox(message, TSession::ApplicationTitle(), MB_ICONERROR);
    });
}

// Offered only with no connection and nothing listening, and never twice at once.
void TForm1::ShowComputerOpponentState()
{
    const TConnectionState state = Session_->State();
    ComputerOpponent->ConnectionStateChanged(state);
    Computer1->setEnabled(state == csNone && !ComputerOpponent->IsStarting());
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::Connect1Click()
{
    TForm2 dialog(this);
    if (dialog.exec() == 1)
        Session_->Connect(dialog.Edit1->text(), dialog.NumberEdit1->text());
}

// A game found on the network is joined exactly as if its address and port had been typed.
void TForm1::NetworkGames1Click()
{
    TNetworkGamesDialog dialog(*Discovery, this);
    if (dialog.exec() != mrOk)
        return;
    if (const std::optional<TNetworkGame> game = dialog.Chosen())
        Session_->Connect(game->Address, QString::number(game->Port));
}

void TForm1::Disconnect1Click()
{
    Session_->Disconnect();
}

void TForm1::Listen1Click()
{
    TForm3 dialog(this);
    if (dialog.exec() == 1)
        Session_->Listen(dialog.NumberEdit1->text());
}

void TForm1::StopListening1Click()
{
    Session_->StopListening();
}

void TForm1::about1Click()
{
    TForm6 dialog(this);
    dialog.exec();
}

void TForm1::Memo1KeyDown(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return;
    const QString typed = Memo1->toPlainText();
    Memo1->clear();
    Session_->EnterChatText(typed);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        Memo1KeyDown(key);
        // Enter sends the line; it never becomes a line break in the input.
        return key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    if (watched == Panel1 && event->type() == QEvent::Resize)
        Panel1Resize();
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TForm1::FormResize()
{
    AdjustStatusPanels();
}

void TForm1::Panel1Resize()
{
    AdjustStatusPanels();
}

void TForm1::AdjustStatusPanels()
{
    StatusBar1->SetPanel0Width(Panel1->width() + 1);
}
