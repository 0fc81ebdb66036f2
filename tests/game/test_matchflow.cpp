#include "game/MatchFlow.h"

#include <QStringList>
#include <QTest>

namespace {

const QStringList kStates{"none", "over", "local", "remote"};
const QString kQuitQuestion = QStringLiteral("Etes-vous certain que vous voulez quitter votre jeu?");
// Stands in for the window and the connection: logs each call as a word and answers every
// box with Answer.
class TFakeHost : public TMatchHost
{
public:
    TMatchFlow Flow{*this};
    QStringList Log;
    bool Connected = true;
    bool Answer = true;

    void RepaintBoard() override { Log << "paint"; }
    void DrawWinLine(int c, int r, int c2, int r2) override { Log << QString::asprintf("line%d%d-%d%d", c, r, c2, r2); }
    void UpdateStatus() override { Log << kStates.at(Flow.GameState); }
    void ShowMessage(const QString& text) override { Box(text == u"Vous avez gagné!" ? "WIN" : text); }
    bool AskYesNo(const QString& text) override { return Box(text == kQuitQuestion ? "ask" : text); }
    bool AskPlayAgain(const QString& text) override { return Box(text == u"Vous avez perdu" ? "LOST" : text); }
    bool IsConnected() const override { return Connected; }
    void SendMove(int c) override { Log << QString::asprintf("send%d", c); }
    void SendNewGame() override { Log << "new"; }
    void Disconnect() override
    {
        Log << "bye";
        Flow.GameState = gsNone;
        Flow.LocalScore = Flow.RemoteScore = 0;
        UpdateStatus();
    }

    // "remote 1:0 7": the state, the scores and the number of pieces on the board.
    QString Summary() const
    {
        int pieces = 0;
        for (int cell = 0; cell < kColumns * kRows; ++cell)
            pieces += Flow.Board.Cell(cell / kRows + 1, cell % kRows + 1) != cvEmpty;
        return kStates.at(Flow.GameState) + QString::asprintf(" %d:%d %d", Flow.LocalScore, Flow.RemoteScore, pieces);
    }

private:
    bool Box(const QString& word)
    {
        Log << word;
        return Answer;
    }
};

}  // namespace

class TestMatchFlow : public QObject
{
    Q_OBJECT

private slots:
    // The row's name is the case: state, moves of the position, action, and "no" to refuse a box.
    void transitions_data()
    {
        QTest::addColumn<QString>("outcome");  // the calls, then => the summary
        QTest::newRow("local 33 new-offline") << "=> local 0:0 2";
        QTest::newRow("none 33 new no") << "new paint local => local 0:0 0";
        QTest::newRow("over 33 new no") << "new paint local => local 0:0 0";
        QTest::newRow("local 33 new") << "ask new paint local => local 0:0 0";
        QTest::newRow("local 33 new no") << "ask => local 0:0 2";
        QTest::newRow("remote 33 new no") << "ask => remote 0:0 2";
        QTest::newRow("local 33 press 3 3") << "paint send3 remote => remote 0:0 3";
        QTest::newRow("local 33 press 3 4") << "=> local 0:0 2";
        for (const char* state : {"none", "over", "remote"})
            QTest::addRow("%s 33 press 3 3", state) << QString("=> %1 0:0 2").arg(state);
        QTest::newRow("local 112233 press 4 1") << "paint send4 remote line11-41 over WIN => over 1:0 7";
        QTest::newRow("local 11223355 press 4 1") << "paint send4 remote line11-41 line21-51 over WIN => over 1:0 9";
        for (const char* state : {"none", "over", "local", "remote"}) {
            QTest::addRow("%s 33 peer-new", state) << "paint remote => remote 0:0 0";
            QTest::addRow("%s 33 peer 6", state) << "paint local => local 0:0 3";
        }
        QTest::newRow("remote 515253 peer 4") << "paint local line11-41 over LOST new paint local => local 0:1 0";
        QTest::newRow("remote 515253 peer 4 no") << "paint local line11-41 over LOST bye none => none 0:0 7";
        for (const char* col : {"0", "8", "-2147483648"})
            QTest::addRow("remote 33 peer %s", col) << "=> remote 0:0 2";
    }
    void transitions()
    {
        const QStringList words = QString::fromLatin1(QTest::currentDataTag()).split(u' ');
        TFakeHost host;
        host.Connected = words[2] != "new-offline";
        host.Answer = words.last() != "no";
        host.Flow.GameState = TGameState(kStates.indexOf(words[0]));
        host.Flow.Board = TBoard::FromMoves(words[1].toStdString());
        if (words[2].startsWith("new"))
            host.Flow.New1Click();
        else if (words[2] == "peer-new")
            host.Flow.ApplyRemoteNewGame();
        else if (words[2] == "press")
            host.Flow.PlayLocalMove(words[3].toInt(), words[4].toInt());
        else
            host.Flow.ApplyRemoteMove(words[3].toInt());
        QTEST((host.Log << "=>" << host.Summary()).join(u' '), "outcome");
    }
};

QTEST_GUILESS_MAIN(TestMatchFlow)
#include "test_matchflow.moc"
