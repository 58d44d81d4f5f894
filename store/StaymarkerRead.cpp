#include "store/StaymarkerRead.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/ForwardRead.h"
#include "store/Names.h"
#include "store/Tables.h"

#include <QStringList>

namespace store {

void ForEachHotel(const std::function<bool(const StaymarkerRow&)>& take)
{
    WithConnection("staymarker_read", [&](QSqlDatabase& db) {
        const QString failed = QStringLiteral("Cannot read table 'Staymarker'");
        const QStringList stored = ColumnsOf(db, QLatin1String(kStaymarker));
        if (stored.isEmpty())
            throw EDatabaseError(ToAnsi(failed + QStringLiteral(": there is no such table")));
        QStringList names;
        for (const NamedField<StaymarkerRow>& c : kStaymarkerColumns)
            names << (stored.contains(QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size())))
                          ? Quoted(c.name)
                          : QStringLiteral("NULL"));
        const QString collate = db.driverName() == QLatin1String("QPSQL") ? QStringLiteral(" COLLATE \"C\"")
                                                                         : QString();
        const QString sql = QStringLiteral("SELECT %1 FROM %2 ORDER BY %3%5, %4%5")
                                .arg(names.join(QStringLiteral(", ")), Quoted(kStaymarker), Quoted("ExtractedAt"),
                                     Quoted("Url"), collate);
        StaymarkerRow row;  // the one row in memory, refilled for each
        ReadForward(db, sql, {}, failed, [&](const QSqlQuery& q) {
            int i = 0;
            for (const NamedField<StaymarkerRow>& c : kStaymarkerColumns) {
                const QVariant value = q.value(i++);
                row.*c.member = value.isNull() ? AnsiString() : ToAnsi(value.toString());
            }
            return take(row);
        });
    });
}

}  // namespace store
