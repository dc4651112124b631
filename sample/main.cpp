#include <QApplication>

#include "sample/SampleApp.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quenvarsample"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    // The program runs while one of its windows is loaded, shown or not.
    QApplication::setQuitOnLastWindowClosed(false);

    quenvar::sample::SampleApp forms;
    QObject::connect(&forms, &quenvar::sample::SampleApp::lastWindowUnloaded, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    forms.start();
    return app.exec();
}
