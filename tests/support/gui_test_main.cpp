#include <gtest/gtest.h>

#include <QApplication>

// Widgets need an application object, as in the program.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
