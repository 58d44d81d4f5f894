#include "store/Failures.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/ForwardRead.h"
#include "store/Names.h"
#include "store/Statement.h"
#include "store/Tables.h"

#include <QSqlQuery>
#include <QStringList>

namespace store {

void InsertFailure(QSqlDatabase& db, const FailureRecord& record)
{
    QStringList names;
    QVariantList values;
    for (const FailureColumn& c : kFailureColumns) {
        names << Quoted(c.name);
        if (c.number)
            values << record.*c.number;
        else if (c.text == &FailureRecord::desk && record.desk.empty())
            values << QVariant(QMetaType::fromType<QString>());  // no desk: NULL
        else
            values << ToWide(record.*c.text);
    }
    RunBound(db,
             QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                 .arg(Quoted(kFailures), names.join(QStringLiteral(", ")),
                      QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", "))),
             values, QStringLiteral("cannot add to \"Failures\""));
}

void ForEachFailure(const std::function<bool(const FailureRecord&)>& take)
{
    WithConnection("failures", [&](QSqlDatabase& db) {
        const QStringList stored = ColumnsOf(db, QLatin1String(kFailures));
        if (stored.isEmpty())
            return;  // no such table
        // A table of an earlier version has no desk: its rows have none.
        QStringList names;
        for (const FailureColumn& c : kFailureColumns)
            names << (c.name != kDeskColumn || stored.contains(QLatin1String(kDeskColumn)) ? Quoted(c.name)
                                                                                          : QStringLiteral("NULL"));
        FailureRecord row;
        ReadForward(db,
                    QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                        .arg(names.join(QStringLiteral(", ")), Quoted(kFailures), Quoted(kIdColumn)),
                    {}, QStringLiteral("Cannot read table 'Failures'"), [&](const QSqlQuery& q) {
                        for (int i = 0; i < static_cast<int>(kFailureColumns.size()); ++i) {
                            const FailureColumn& c = kFailureColumns[static_cast<std::size_t>(i)];
                            if (c.number)
                                row.*c.number = q.value(i).toInt();
                            else
                                row.*c.text = q.value(i).isNull() ? AnsiString() : ToAnsi(q.value(i).toString());
                        }
                        return take(row);
                    });
    });
}

std::vector<FailureRecord> ReadFailures()
{
    return AllRows<FailureRecord>(ForEachFailure);
}

}  // namespace store
