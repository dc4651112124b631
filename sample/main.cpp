#include <QApplication>

#include "sample/SampleApp.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    quenvar::sample::SampleApp::configureApplication();

    quenvar::sample::SampleApp forms;
    QObject::connect(&forms, &quenvar::sample::SampleApp::lastWindowUnloaded, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    forms.start();
    return app.exec();
}
