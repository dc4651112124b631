#pragma once

#include <QObject>

class WindowLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void portWindowControls_data();
    void portWindowControls();
    void portWindowFrame();
    void portWindowTabOrder();
    void controllerControls_data();
    void controllerControls();
    void controllerFrame();
    void controllerTabOrder();
    void controllerMenu();
    void houseAndUnitBoxes_data();
    void houseAndUnitBoxes();
    void typedTextIsNotAddedToList();
    void slider();
    void controlFillsItsPlace();
};
