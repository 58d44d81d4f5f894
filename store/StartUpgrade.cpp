#include "store/StartUpgrade.h"

#include "platform/base/Report.h"
#include "platform/db/DatabaseError.h"
#include "store/Desk.h"
#include "store/Names.h"
#include "store/Schema.h"

#include <QStringList>

#include <exception>
#include <optional>

namespace store {

namespace {

// The desk whose upgrade is owed; none when nothing is.
std::optional<QString>& Owed()
{
    static std::optional<QString> desk;
    return desk;
}

// The upgrade, then the take-over; a failed upgrade throws.
void UpgradeAndAdopt(const QString& desk)
{
    for (const QString& change : UpgradeHotelsDb(kHotelsDb))
        platform::Report(QStringLiteral("upgraded \"Hotels_Db\": ") + change);
    try {
        for (const QString& adopted : AdoptRows(desk))
            platform::Report(adopted);
    } catch (const std::exception& e) {
        // Taken over at a later start; nothing is lost meanwhile.
        platform::Report(QStringLiteral("could not take over the rows written before desks: ")
                         + QString::fromUtf8(e.what()));
    }
}

}  // namespace

bool UpgradeAtStart(const QString& desk)
{
    try {
        UpgradeAndAdopt(desk);
        Owed().reset();
        return true;
    } catch (const std::exception& e) {
        Owed() = desk;
        platform::Report(QStringLiteral("could not upgrade \"Hotels_Db\": %1; it is tried again before the first write")
                             .arg(QString::fromUtf8(e.what())));
        return false;
    }
}

bool UpgradeOwed()
{
    return Owed().has_value();
}

void CatchUpUpgrade()
{
    if (!Owed())
        return;
    UpgradeAndAdopt(*Owed());
    Owed().reset();
    platform::Report(QStringLiteral("upgraded \"Hotels_Db\" before the first write, as the start could not"));
}

}  // namespace store
