#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The tray icons the program carries for a theme that lacks them (a build that is not
// installed): each must draw a visible folder at the sizes panels ask for, with the SVG
// support the program really has.
TEST(BundledIconsTest, TrayIconsDrawAFolderAtPanelSizes) {
    for (const QString& name : {QStringLiteral("org.zorvant.Zorvant-tray"),
                                QStringLiteral("org.zorvant.Zorvant-tray-symbolic")}) {
        const QIcon icon(QStringLiteral(":/zorvant/icons/%1.svg").arg(name));
        for (const int size : {16, 22, 24, 32, 48}) {
            const QImage image = icon.pixmap(size, size).toImage();
            ASSERT_EQ(image.size(), QSize(size, size)) << name.toStdString() << " at " << size;
            // A folder fills well over half of its square; a blank or broken icon does not.
            int opaque = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
            EXPECT_GT(opaque, size * size / 2) << name.toStdString() << " at " << size;
        }
    }
}
