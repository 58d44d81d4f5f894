#include "store/Staymarker.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <stdexcept>

namespace store {

namespace {


QString Quoted(const QSqlDatabase& db, const QString& column)
{
    return db.driver()->escapeIdentifier(column, QSqlDriver::FieldName);
}

}  // namespace

const QStringList& StaymarkerColumns()
{
    static const QStringList columns{
        QStringLiteral("Url"),         QStringLiteral("AirPort"),
        QStringLiteral("HeaderBar"),   QStringLiteral("HotelInfo"),
        QStringLiteral("Direction"),   QStringLiteral("Dining"),
        QStringLiteral("Transportation"), QStringLiteral("PropertyInformation"),
        QStringLiteral("Services"),    QStringLiteral("RatingsAwards"),
        QStringLiteral("Attractions"), QStringLiteral("PhotoUrl"),
        QStringLiteral("ExtractedAt")};
    return columns;
}

AnsiString& StaymarkerField(StaymarkerRow& row, int index)
{
    AnsiString* fields[] = {&row.Url,      &row.AirPort,   &row.HeaderBar, &row.HotelInfo,
                            &row.Direction, &row.Dining,   &row.Transportation,
                            &row.PropertyInformation, &row.Services, &row.RatingsAwards,
                            &row.Attractions, &row.PhotoUrl, &row.ExtractedAt};
    if (index < 0 || index >= 13)
        throw std::out_of_range("StaymarkerField: no column " + std::to_string(index));
    return *fields[index];
}

const AnsiString& StaymarkerField(const StaymarkerRow& row, int index)
{
    return StaymarkerField(const_cast<StaymarkerRow&>(row), index);
}

bool UpsertHotel(QSqlDatabase& db, const StaymarkerRow& row, QString* error)
{
    const QStringList& columns = StaymarkerColumns();
    QStringList names;
    QStringList marks;
    QStringList updates;
    for (const QString& c : columns) {
        names << Quoted(db, c);
        marks << QStringLiteral("?");
        if (c != QLatin1String("Url"))
            updates << QStringLiteral("%1 = excluded.%1").arg(Quoted(db, c));
    }
    // Both engines understand ON CONFLICT: one statement, no window
    // between a delete and an insert.
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (%4) DO UPDATE SET %5")
                            .arg(db.driver()->escapeIdentifier(QStringLiteral("Staymarker"), QSqlDriver::TableName),
                                 names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
                                 Quoted(db, QStringLiteral("Url")), updates.join(QStringLiteral(", ")));
    QSqlQuery q(db);
    bool ok = q.prepare(sql);
    if (ok) {
        for (int i = 0; i < columns.size(); ++i)
            q.addBindValue(ToWide(StaymarkerField(row, i)));
        ok = q.exec();
    }
    if (!ok && error)
        *error = QStringLiteral("Cannot store hotel %1: %2").arg(ToWide(row.Url), q.lastError().text());
    return ok;
}

bool StoreHotel(const StaymarkerRow& row, QString* error)
{
    try {
        return WithConnection("staymarker", [&](QSqlDatabase& db) { return UpsertHotel(db, row, error); });
    } catch (const EDatabaseError& e) {
        if (error)
            *error = QString::fromStdString(e.what());
        return false;
    }
}

std::vector<StaymarkerRow> ReadAllHotels()
{
    return WithConnection("staymarker", [](QSqlDatabase& db) {
        const QStringList& columns = StaymarkerColumns();
        QStringList names;
        for (const QString& c : columns)
            names << Quoted(db, c);
        QSqlQuery q(db);
        q.setForwardOnly(true);
        // Byte order on both engines, so an export does not depend on the
        // server's locale.
        const QString collate = db.driverName() == QLatin1String("QPSQL") ? QStringLiteral(" COLLATE \"C\"")
                                                                         : QString();
        const QString sql = QStringLiteral("SELECT %1 FROM %2 ORDER BY %3%5, %4%5")
                                .arg(names.join(QStringLiteral(", ")),
                                     db.driver()->escapeIdentifier(QStringLiteral("Staymarker"), QSqlDriver::TableName),
                                     Quoted(db, QStringLiteral("ExtractedAt")), Quoted(db, QStringLiteral("Url")), collate);
        if (!q.exec(sql))
            throw EDatabaseError("Cannot read table 'Staymarker': " + ToAnsi(q.lastError().text()));
        std::vector<StaymarkerRow> rows;
        while (q.next()) {
            StaymarkerRow row;
            for (int i = 0; i < columns.size(); ++i)
                StaymarkerField(row, i) = q.value(i).isNull() ? AnsiString() : ToAnsi(q.value(i).toString());
            rows.push_back(std::move(row));
        }
        if (q.lastError().isValid())
            throw EDatabaseError("Cannot read table 'Staymarker': " + ToAnsi(q.lastError().text()));
        return rows;
    });
}

}  // namespace store
