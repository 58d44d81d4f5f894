#include "store/UrlKey.h"

#include "store/Names.h"

namespace store {

namespace {

// The address column of `table`, named with its table.
QString UrlColumn(const char* table)
{
    return Quoted(table) + QStringLiteral(".\"Url\"");
}

}  // namespace

UrlKey::UrlKey(const QSqlDatabase& db) : UrlKey(db.driverName()) {}

UrlKey::UrlKey(const QString& driverName) : byDigest_(driverName == QLatin1String("QPSQL")) {}

QString UrlKey::Match(const char* table) const
{
    const QString column = UrlColumn(table);
    // The digest first: it is what the index holds.
    return byDigest_ ? QStringLiteral("md5(%1) = md5(?) AND %1 = ?").arg(column) : QStringLiteral("%1 = ?").arg(column);
}

QVariantList UrlKey::Values(const AnsiString& url) const
{
    const QString value = ToWide(url);
    return byDigest_ ? QVariantList{value, value} : QVariantList{value};
}

QString UrlKey::MatchAny(const char* table, int count) const
{
    const QString column = UrlColumn(table);
    const QString marks = QStringList(count, QStringLiteral("?")).join(QStringLiteral(", "));
    if (!byDigest_)
        return QStringLiteral("%1 IN (%2)").arg(column, marks);
    const QString digests = QStringList(count, QStringLiteral("md5(?)")).join(QStringLiteral(", "));
    return QStringLiteral("md5(%1) IN (%2) AND %1 IN (%3)").arg(column, digests, marks);
}

QVariantList UrlKey::ValuesAny(const std::vector<AnsiString>& urls) const
{
    QVariantList values;
    for (int pass = byDigest_ ? 2 : 1; pass > 0; --pass)
        for (const AnsiString& url : urls)
            values << ToWide(url);
    return values;
}

QString UrlKey::StaymarkerConflict() const
{
    return byDigest_ ? QStringLiteral("((md5(\"Url\")))") : QStringLiteral("(\"Url\")");
}

QString UrlKey::StaymarkerUpdateGuard() const
{
    return byDigest_ ? QStringLiteral(" WHERE %1.\"Url\" = excluded.\"Url\"").arg(Quoted(kStaymarker)) : QString();
}

QStringList UrlKey::CreateIndexSql(const QString& table) const
{
    if (table == QLatin1String(kGoing))
        return {byDigest_ ? QStringLiteral("CREATE INDEX %1 ON %2 (md5(%3))")
                                .arg(Quoted(kGoingDigestIndex), Quoted(kGoing), Quoted(kGoingUrl))
                          : QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                                .arg(Quoted(kGoingPlainIndex), Quoted(kGoing), Quoted(kGoingUrl))};
    if (table == QLatin1String(kStaymarker) && byDigest_)
        return {QStringLiteral("CREATE UNIQUE INDEX %1 ON %2 (md5(\"Url\"))")
                    .arg(Quoted(kStaymarkerDigestIndex), Quoted(kStaymarker))};
    return {};
}

}  // namespace store
