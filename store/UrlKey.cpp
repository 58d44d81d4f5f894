#include "store/UrlKey.h"

#include "store/Names.h"

namespace store {

UrlKey::UrlKey(const QSqlDatabase& db) : UrlKey(db.driverName()) {}

UrlKey::UrlKey(const QString& driverName) : byDigest_(driverName == QLatin1String("QPSQL")) {}

QString UrlKey::Match(const char* table) const
{
    const QString column = QStringLiteral("\"%1\".\"Url\"").arg(QLatin1String(table));
    // The digest first: it is what the index holds.
    return byDigest_ ? QStringLiteral("md5(%1) = md5(?) AND %1 = ?").arg(column) : QStringLiteral("%1 = ?").arg(column);
}

void UrlKey::Bind(QSqlQuery& q, const AnsiString& url) const
{
    const QString value = ToWide(url);
    q.addBindValue(value);
    if (byDigest_)
        q.addBindValue(value);
}

QString UrlKey::MatchAny(const char* table, int count) const
{
    const QString column = QStringLiteral("\"%1\".\"Url\"").arg(QLatin1String(table));
    const QString marks = QStringList(count, QStringLiteral("?")).join(QStringLiteral(", "));
    if (!byDigest_)
        return QStringLiteral("%1 IN (%2)").arg(column, marks);
    const QString digests = QStringList(count, QStringLiteral("md5(?)")).join(QStringLiteral(", "));
    return QStringLiteral("md5(%1) IN (%2) AND %1 IN (%3)").arg(column, digests, marks);
}

void UrlKey::BindAny(QSqlQuery& q, const std::vector<AnsiString>& urls) const
{
    for (int pass = byDigest_ ? 2 : 1; pass > 0; --pass)
        for (const AnsiString& url : urls)
            q.addBindValue(ToWide(url));
}

QString UrlKey::StaymarkerConflict() const
{
    return byDigest_ ? QStringLiteral("((md5(\"Url\")))") : QStringLiteral("(\"Url\")");
}

QString UrlKey::StaymarkerUpdateGuard() const
{
    return byDigest_ ? QStringLiteral(" WHERE \"Staymarker\".\"Url\" = excluded.\"Url\"") : QString();
}

QStringList UrlKey::CreateIndexSql(const QString& table) const
{
    if (table == QLatin1String(kGoing))
        return {byDigest_ ? QStringLiteral("CREATE INDEX %1 ON %2 (md5(%3))")
                                .arg(Quoted(kGoingDigestIndex), Quoted(kGoing), Quoted(kGoingUrl))
                          : QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                                .arg(Quoted(kGoingPlainIndex), Quoted(kGoing), Quoted(kGoingUrl))};
    if (table == QLatin1String("Staymarker") && byDigest_)
        return {QStringLiteral("CREATE UNIQUE INDEX \"%1\" ON \"Staymarker\" (md5(\"Url\"))")
                    .arg(QLatin1String(kStaymarkerDigestIndex))};
    return {};
}

}  // namespace store
