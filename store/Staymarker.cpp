#include "store/Staymarker.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Names.h"
#include "store/StaymarkerRead.h"
#include "store/UrlKey.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <string_view>

namespace store {

namespace {

QString Quoted(const QSqlDatabase& db, std::string_view column)
{
    return db.driver()->escapeIdentifier(QString::fromUtf8(column.data(), static_cast<qsizetype>(column.size())),
                                         QSqlDriver::FieldName);
}

}  // namespace

void UpsertHotel(QSqlDatabase& db, const StaymarkerRow& row)
{
    QStringList names;
    QStringList marks;
    QStringList updates;
    for (const NamedField<StaymarkerRow>& c : kStaymarkerColumns) {
        names << Quoted(db, c.name);
        marks << QStringLiteral("?");
        if (c.member != &StaymarkerRow::Url)
            updates << QStringLiteral("%1 = excluded.%1").arg(Quoted(db, c.name));
    }
    // Both engines understand ON CONFLICT: one statement, no window
    // between a delete and an insert.
    const UrlKey key(db);
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT %4 DO UPDATE SET %5%6")
                            .arg(db.driver()->escapeIdentifier(QStringLiteral("Staymarker"), QSqlDriver::TableName),
                                 names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
                                 key.StaymarkerConflict(), updates.join(QStringLiteral(", ")),
                                 key.StaymarkerUpdateGuard());
    // An address may be tens of kilobytes long; the message names its start.
    const QString url = ToWide(row.Url);
    const QString failed = QStringLiteral("Cannot store hotel %1")
                               .arg(url.size() > 200 ? url.left(200) + QStringLiteral("...") : url);
    QSqlQuery q(db);
    if (!q.prepare(sql))
        throw EDatabaseError(failed, q.lastError());
    for (const NamedField<StaymarkerRow>& c : kStaymarkerColumns)
        q.addBindValue(ToWide(row.*c.member));
    if (!q.exec())
        throw EDatabaseError(failed, q.lastError());
    // Only a row whose address digest equals another address's changes
    // nothing; losing it silently would lose the hotel.
    if (q.numRowsAffected() == 0)
        throw EDatabaseError(ToAnsi(failed + QStringLiteral(": another stored address has the same digest")));
}

void StoreHotel(const StaymarkerRow& row)
{
    WithConnection("staymarker", [&](QSqlDatabase& db) { UpsertHotel(db, row); });
}

std::vector<StaymarkerRow> ReadAllHotels()
{
    std::vector<StaymarkerRow> rows;
    ForEachHotel([&](const StaymarkerRow& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

}  // namespace store
