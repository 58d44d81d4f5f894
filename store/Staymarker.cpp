#include "store/Staymarker.h"

#include "store/ForwardRead.h"
#include "store/Names.h"
#include "store/StaymarkerRead.h"
#include "store/Statement.h"
#include "store/UrlKey.h"

#include <QSqlQuery>
#include <QStringList>

namespace store {

void UpsertHotel(QSqlDatabase& db, const StaymarkerRow& row)
{
    QStringList names;
    QStringList updates;
    QVariantList values;
    for (const NamedField<StaymarkerRow>& c : kStaymarkerColumns) {
        names << Quoted(c.name);
        values << ToWide(row.*c.member);
        if (c.member != &StaymarkerRow::Url)
            updates << QStringLiteral("%1 = excluded.%1").arg(Quoted(c.name));
    }
    // Both engines understand ON CONFLICT: one statement, no window
    // between a delete and an insert.
    const UrlKey key(db);
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT %4 DO UPDATE SET %5%6")
                            .arg(Quoted(kStaymarker), names.join(QStringLiteral(", ")),
                                 QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")),
                                 key.StaymarkerConflict(), updates.join(QStringLiteral(", ")),
                                 key.StaymarkerUpdateGuard());
    // An address may be tens of kilobytes long; the message names its start.
    const QString url = ToWide(row.Url);
    const QString failed = QStringLiteral("Cannot store hotel %1")
                               .arg(url.size() > 200 ? url.left(200) + QStringLiteral("...") : url);
    // Only a row whose address digest equals another address's changes
    // nothing; losing it silently would lose the hotel.
    if (RunBound(db, sql, values, failed).numRowsAffected() == 0)
        throw EDatabaseError(ToAnsi(failed + QStringLiteral(": another stored address has the same digest")));
}

std::vector<StaymarkerRow> ReadAllHotels()
{
    return AllRows<StaymarkerRow>(ForEachHotel);
}

}  // namespace store
