#pragma once

#include <QObject>

class DimPercentageTest : public QObject {
    Q_OBJECT
private slots:
    void percentage_data();
    void percentage();
    void errorText_data();
    void errorText();
};
