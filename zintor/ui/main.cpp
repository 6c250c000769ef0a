// Zintor: with arguments it renders headless; without, it opens its window.
#include "zintor/cli/CommandLine.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    if (argc > 1)
        return zintor::runCommandLine(argc, argv);
    QApplication app(argc, argv);
    QDialog window;
    window.setWindowTitle("Zintor");
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel("Zintor is starting..."));
    window.show();
    return app.exec();
}
