// The yardstick for the start-up benchmark: about the least a Qt Widgets program can do and
// still look like ours from outside. A prompt titled "Nom" with a field and a button, then a
// window titled "Tessaro" whose only content is a focused text box, as the chat input is in
// ours, so both are driven through the same steps and both blink a cursor when active.
#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    QDialog prompt;
    prompt.setWindowTitle(QStringLiteral("Nom"));
    auto* row = new QHBoxLayout(&prompt);
    row->addWidget(new QLineEdit(&prompt));
    auto* ok = new QPushButton(QStringLiteral("OK"), &prompt);
    ok->setDefault(true);
    row->addWidget(ok);
    QObject::connect(ok, &QPushButton::clicked, &prompt, &QDialog::accept);
    prompt.exec();

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tessaro"));
    window.resize(565, 375);
    auto* column = new QVBoxLayout(&window);
    auto* input = new QPlainTextEdit(&window);
    column->addWidget(input);
    input->setFocus();
    window.show();
    return app.exec();
}
