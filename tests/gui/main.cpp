#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // Windows are placed inside their screen, so the virtual screen is made large enough
    // for every window at its full size even at scale 2 (the default one is 800x600).
    // Set before QApplication, and inherited by the runs the scale tests start.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" QUORVEL_TEST_SCREEN);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
