// Vexla: with arguments it renders headless; without, it opens its window.
#include "vexla/cli/CommandLine.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    if (argc > 1)
        return vexla::runCommandLine(argc, argv);
    QApplication app(argc, argv);
    QDialog window;
    window.setWindowTitle("Vexla");
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel("Vexla is starting..."));
    window.show();
    return app.exec();
}
