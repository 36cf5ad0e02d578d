// Writes the application icon as PNG files, one per size, for the desktop
// entry: certpurge-icons FOLDER
#include "res/AppIcon.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: certpurge-icons FOLDER\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    for (int size : {AppIcon::kSmallSize, AppIcon::kLargeSize, AppIcon::kExtraSize}) {
        QString file = dir.filePath(QString("certpurge-%1.png").arg(size));
        if (!AppIcon::Render(size).save(file)) {
            std::fprintf(stderr, "certpurge-icons: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
