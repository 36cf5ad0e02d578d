// monitor_bench: the presence monitor's reaction time to an inserted token
// and its CPU use while idle. Prints Markdown.

#include "CMonitorBench.h"

#include <QApplication>

#include <cstdlib>
#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("certpurge"));
    try {
        CMonitorBench bench;
        bench.Run();
        bench.Print(std::cout);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "monitor_bench: " << e.what() << '\n';
        return 1;
    }
}
