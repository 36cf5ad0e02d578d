// Writes the application icon as PNG files, one per size, for the icon
// theme: certpurge-icons FOLDER SIZE...
#include "res/AppIcon.h"

#include <QDir>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: certpurge-icons FOLDER SIZE...\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        bool number = false;
        int size = QString::fromLocal8Bit(argv[i]).toInt(&number);
        if (!number || size <= 0) {
            std::fprintf(stderr, "certpurge-icons: not a size: %s\n", argv[i]);
            return 2;
        }
        QString file = dir.filePath(QString("certpurge-%1.png").arg(size));
        if (!AppIcon::Render(size).save(file)) {
            std::fprintf(stderr, "certpurge-icons: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
