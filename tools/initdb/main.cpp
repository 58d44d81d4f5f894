// hotelcrawler-initdb: creates the "Hotels_Db" tables that are missing and upgrades the others.

#include "tools/common/InitDb.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);  // Qt Sql drivers need the application object
    return tools::RunInitDb(app.arguments().mid(1), std::cout, std::cerr);
}
