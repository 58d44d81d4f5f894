#pragma once
// A private "Hotels_Db" for one test: an SQLite file in a temporary folder
// with both tables, made the alias's database through the settings in force.
// Requests for the site's host go to a closed loopback port unless a test
// routes them elsewhere, so nothing ever leaves the machine.

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Going.h"
#include "store/Schema.h"
#include "tests/support/ThisDesk.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class TestDatabase {
public:
    explicit TestDatabase(platform::Settings settings = {})
    {
        settings.hotelsDb = QStringLiteral("sqlite:") + dir_.filePath(QStringLiteral("Hotels_Db.sqlite"));
        if (settings.routes.empty())
            settings.routes.push_back({QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), 1});
        platform::SetSettings(settings);
        store::EnsureHotelsDbTables("Hotels_Db");
    }
    QString path() const { return dir_.filePath(QStringLiteral("Hotels_Db.sqlite")); }

    // Runs one statement on "Hotels_Db" (a test's own set-up or sabotage:
    // a trigger, a renamed table); a statement that fails fails the test.
    static void Exec(const QString& statement)
    {
        const QString name = QStringLiteral("test_database_exec");
        {
            QSqlDatabase conn = OpenAliasDatabase("Hotels_Db", name);
            QSqlQuery q(conn);
            EXPECT_TRUE(q.exec(statement)) << q.lastError().text().toStdString();
        }
        QSqlDatabase::removeDatabase(name);
    }

    // The rows of this desk (the settings' [desk] name) in "Going", read
    // the way the resume load reads them.
    static std::vector<Hotel_Url> ReadGoing()
    {
        std::vector<Hotel_Url> rows;
        EXPECT_TRUE(store::LoadGoing(ThisDesk(), rows).opened);
        return rows;
    }

private:
    QTemporaryDir dir_;
};
