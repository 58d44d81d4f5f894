#pragma once
// Runs a test once per database engine behind "Hotels_Db": SQLite in a fresh
// temporary file, and PostgreSQL at $HC_TEST_POSTGRES_URL (skipped when that
// is unset), whose four tables are dropped and created anew for every test.
// Message boxes are recorded instead of shown.

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "store/HotelUrl.h"
#include "store/Desk.h"
#include "store/GoingWriter.h"
#include "store/Schema.h"
#include "store/Staymarker.h"
#include "support/RecordedMessages.h"
#include "tests/support/ThisDesk.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

enum class Engine { SQLite, PostgreSQL };

// A "Staymarker" row of destination "osl" whose header bar is `header`.
inline store::StaymarkerRow HotelRow(const AnsiString& url, const char* header)
{
    store::StaymarkerRow row;
    row.Url = url;
    row.AirPort = "osl";
    row.HeaderBar = header;
    row.ExtractedAt = "2024-05-01T00:00:00Z";
    return row;
}

inline std::string EngineName(const ::testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::SQLite ? "SQLite" : "PostgreSQL";
}

#define HC_INSTANTIATE_FOR_ENGINES(Fixture) \
    INSTANTIATE_TEST_SUITE_P(Engines, Fixture, ::testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName)

// The engine set-up, for fixtures whose parameter is more than the engine.
class EngineFixtureBase : public ::testing::Test {
protected:
    void StartEngine(Engine which)
    {
        engine = which;
        recorder_.onMessage = [this](const QString& text) { messages.push_back(text); };
        recorder_.onError = [this](const QString& text) { exceptions.push_back(text); };
        recorderInstalled_.emplace(recorder_);

        if (engine == Engine::SQLite) {
            ASSERT_TRUE(dir_.isValid());
            dbSetting = QStringLiteral("sqlite:") + dir_.filePath(QStringLiteral("Hotels_Db.sqlite"));
            UseDatabase(dbSetting);
        } else {
            dbSetting = qEnvironmentVariable("HC_TEST_POSTGRES_URL");
            if (dbSetting.isEmpty())
                GTEST_SKIP() << "HC_TEST_POSTGRES_URL is not set; PostgreSQL case skipped";
            UseDatabase(dbSetting);
            HoldServerLock();
            for (const char* table : {"Going", "Staymarker", "Failures", "Destinations"})
                Exec(QStringLiteral("DROP TABLE IF EXISTS \"%1\"").arg(QLatin1String(table)));
        }
        store::EnsureHotelsDbTables("Hotels_Db");
    }

    void StopEngine()
    {
        recorderInstalled_.reset();
        if (lockDb_.isValid()) {
            lockDb_.close();  // ending the session releases the lock
            lockDb_ = QSqlDatabase();
            QSqlDatabase::removeDatabase(kLockConnection);
        }
    }

    bool IsPostgres() const { return engine == Engine::PostgreSQL; }
    QString sqlitePath() const { return dir_.filePath(QStringLiteral("Hotels_Db.sqlite")); }

    static void UseDatabase(const QString& setting)
    {
        platform::Settings s;
        s.hotelsDb = setting;
        platform::SetSettings(s);
    }

    // Runs one statement on its own connection; fails the test on error.
    static void Exec(const QString& sql, const QVariantList& values = {})
    {
        const QString name = QStringLiteral("engine_test_exec");
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            QSqlQuery q(db);
            // PostgreSQL cannot prepare DDL, so plain statements run as they are.
            bool ok = false;
            if (values.isEmpty()) {
                ok = q.exec(sql);
            } else {
                ASSERT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
                for (const QVariant& v : values)
                    q.addBindValue(v);
                ok = q.exec();
            }
            EXPECT_TRUE(ok) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        }
        QSqlDatabase::removeDatabase(name);
    }

    // This copy's desk becomes `desk`; the database stays.
    static void UseDesk(const QString& desk)
    {
        platform::Settings s = platform::CurrentSettings();
        s.deskName = desk;
        platform::SetSettings(s);
    }

    // Rows of "Going" for `links`, of this copy's desk unless another is named
    // (a null QString: rows without a desk, as an earlier version wrote them).
    static void SeedGoing(const std::vector<Hotel_Url>& links, const QString& desk = ThisDesk().Name())
    {
        for (const Hotel_Url& l : links)
            Exec("INSERT INTO \"Going\" (\"Url\", \"AirPort\", \"Desk\") VALUES (?, ?, ?)",
                 {QString::fromStdString(l.Url), QString::fromStdString(l.AirPort),
                  desk.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(desk)});
    }

    // The rows of "Going" in key order, read past the store: every desk's,
    // or those of `desk` when one is named.
    static std::vector<Hotel_Url> GoingRows(const QString& desk = QString())
    {
        std::vector<Hotel_Url> rows;
        const QString name = QStringLiteral("engine_test_read");
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            QSqlQuery q(db);
            EXPECT_TRUE(q.prepare(desk.isNull() ? QStringLiteral("SELECT \"Url\", \"AirPort\" FROM \"Going\" ORDER BY \"Id\"")
                                                : QStringLiteral("SELECT \"Url\", \"AirPort\" FROM \"Going\" "
                                                                 "WHERE \"Desk\" = ? ORDER BY \"Id\"")))
                << q.lastError().text().toStdString();
            if (!desk.isNull())
                q.addBindValue(desk);
            EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
            while (q.next())
                rows.push_back({q.value(0).toString().toStdString(), q.value(1).toString().toStdString()});
        }
        QSqlDatabase::removeDatabase(name);
        return rows;
    }

    static void DropGoing() { Exec("DROP TABLE \"Going\""); }

    // Keeps `row` in "Staymarker" the way the crawl keeps a handled page's
    // hotel (GoingWriter::Handled), under this copy's desk.
    static void KeepHotel(const store::StaymarkerRow& row)
    {
        store::GoingWriter writer{ThisDesk()};
        writer.Handled({row.Url, row.AirPort}, row);
        ASSERT_TRUE(writer.Flush()) << "the hotel was not kept";
    }

    // Makes every insert of a row whose "Url" is `url` fail.
    void PoisonGoing(const QString& url)
    {
        if (IsPostgres())
            Exec(QStringLiteral("ALTER TABLE \"Going\" ADD CONSTRAINT poisoned CHECK (\"Url\" <> '%1')").arg(url));
        else
            Exec(QStringLiteral("CREATE TRIGGER poisoned BEFORE INSERT ON \"Going\" WHEN NEW.\"Url\" = '%1' "
                                "BEGIN SELECT RAISE(ABORT, 'poisoned row'); END")
                     .arg(url));
    }

    Engine engine = Engine::SQLite;
    QString dbSetting;
    std::vector<QString> messages;
    std::vector<QString> exceptions;

private:
    // Test programs may run side by side against one server; each PostgreSQL
    // test takes this session lock first, so their tables never mix.
    void HoldServerLock()
    {
        lockDb_ = OpenAliasDatabase("Hotels_Db", kLockConnection);
        QSqlQuery q(lockDb_);
        // Connections give up on locks quickly; this one waits its turn.
        ASSERT_TRUE(q.exec("SET lock_timeout = 0")) << q.lastError().text().toStdString();
        ASSERT_TRUE(q.exec("SET statement_timeout = 0")) << q.lastError().text().toStdString();
        ASSERT_TRUE(q.exec("SELECT pg_advisory_lock(727274)")) << q.lastError().text().toStdString();
    }

    inline static const QString kLockConnection = QStringLiteral("engine_test_lock");
    QSqlDatabase lockDb_;
    QTemporaryDir dir_;
    MessageCallbacks recorder_;
    std::optional<ScopedMessageSink> recorderInstalled_;
};

class EngineTest : public EngineFixtureBase, public ::testing::WithParamInterface<Engine> {
protected:
    void SetUp() override { StartEngine(GetParam()); }
    void TearDown() override { StopEngine(); }
};
