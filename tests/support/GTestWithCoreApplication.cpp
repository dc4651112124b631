// GoogleTest with a Qt event loop: components under test post events, use socket notifiers
// and timers, and so need a QCoreApplication.
#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
