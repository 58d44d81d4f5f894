#pragma once
// Another connection holding "Hotels_Db" as a busy writer elsewhere would:
// on SQLite the whole file (BEGIN EXCLUSIVE: no reader or writer gets in,
// not even to the catalogue); on PostgreSQL the tables named
// (ACCESS EXCLUSIVE: their rows and any change of them wait, the catalogue
// stays readable). The store's connections give up after their short lock
// wait (Alias.h), so each use under the lock fails. Held from construction
// until Release() or destruction.

#include "platform/db/Alias.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <gtest/gtest.h>

class HeldLock {
public:
    explicit HeldLock(bool postgres, const QStringList& tables = {QStringLiteral("Going")})
    {
        db_ = OpenAliasDatabase("Hotels_Db", kName);
        QSqlQuery q(db_);
        EXPECT_TRUE(q.exec(postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN EXCLUSIVE")))
            << q.lastError().text().toStdString();
        if (!postgres)
            return;
        for (const QString& table : tables) {
            EXPECT_TRUE(q.exec(QStringLiteral("LOCK TABLE \"%1\" IN ACCESS EXCLUSIVE MODE").arg(table)))
                << q.lastError().text().toStdString();
        }
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    ~HeldLock() { Release(); }

    void Release()
    {
        if (!db_.isValid())
            return;
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(kName);
    }

private:
    inline static const QString kName = QStringLiteral("held_lock");
    QSqlDatabase db_;
};
