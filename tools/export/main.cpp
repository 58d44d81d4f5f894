// hotelcrawler-export: prints every "Staymarker" row, the summary or the failures.

#include "tools/common/Export.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);  // Qt Sql drivers need the application object
    return tools::RunExport(app.arguments().mid(1), std::cout, std::cerr);
}
