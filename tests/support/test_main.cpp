#include <gtest/gtest.h>

#include <QCoreApplication>

// QSettings and the rest of the platform layer expect an application object, as in the program.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
