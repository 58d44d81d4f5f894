#pragma once
// The five columns that hold a RetryState (Retry.h), in "Going" and in
// "Destinations": "Attempts", "FailingTicks", "RetryInTicks", "LastFailure",
// "LastFailedAt", in this order. NULL reads as 0 or empty text: a row that
// never failed.
//

#include "store/Retry.h"

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace store {

inline constexpr const char* kRetryColumnNames[] = {"Attempts", "FailingTicks", "RetryInTicks", "LastFailure",
                                                    "LastFailedAt"};

// "\"Attempts\" INTEGER, ..." for CREATE TABLE on a Qt Sql driver, one entry
// per column. Tick counts are 64-bit on both engines.
QStringList RetryColumnsSql(const QString& driverName);

// The five values of `state` in column order.
QVariantList RetryValues(const RetryState& state);
// Five NULLs: a link that never failed.
QVariantList NoRetryValues();
// The state in the five columns of the current row of `q` from `first` on.
RetryState ReadRetry(const QSqlQuery& q, int first);

}  // namespace store
