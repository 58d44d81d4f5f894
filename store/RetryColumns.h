#pragma once
// The five columns that hold a RetryState (Retry.h), in "Going" and in
// "Destinations": "Attempts", "FailingTicks", "RetryInTicks", "LastFailure",
// "LastFailedAt", in this order. NULL reads as 0 or empty text: a row that
// never failed.
//
// Errors: the reads and the TTable writes throw EDatabaseError as the table
// component does.

#include "store/Retry.h"

#include <QSqlQuery>
#include <QString>
#include <QStringList>

class TTable;

namespace store {

inline constexpr const char* kRetryColumnNames[] = {"Attempts", "FailingTicks", "RetryInTicks", "LastFailure",
                                                    "LastFailedAt"};

// "\"Attempts\" INTEGER, ..." for CREATE TABLE on a Qt Sql driver, one entry
// per column. Tick counts are 64-bit on both engines.
QStringList RetryColumnsSql(const QString& driverName);

// The five names quoted, joined by ", " (for SELECT and INSERT lists).
QString RetryColumnList();

// Binds the five values of `state` in column order.
void BindRetry(QSqlQuery& q, const RetryState& state);
// The state in the five columns of the current row of `q` from `first` on.
RetryState ReadRetry(const QSqlQuery& q, int first);

// The same through the table component, for the save at close and the
// resume load: false from HasRetryColumns when the open table lacks any of
// them (a table of an earlier version).
bool HasRetryColumns(TTable& table);
RetryState ReadRetry(TTable& table);
void SetRetry(TTable& table, const RetryState& state);

}  // namespace store
