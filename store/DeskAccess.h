#pragma once
// The way to one desk's rows of "Hotels_Db" ("Going", "Destinations",
// "Failures"): the desk's name and the connection its reads and writes go
// through. The program makes it once at start, from the desk's claim
// (InstanceLock.h), and hands it to everything that reads or writes those
// rows; nothing in the store looks the desk up on its own.
//
// A desk whose claim keeps a connection (a PostgreSQL claim that was not
// refused) works on that connection, under the desk's lock. Any other (an
// SQLite file, or a tool or test that made no claim) opens a connection of
// its own for each use (WithDeskConnection, Connection.h).
//
// A copy is as good as the original; it refers to the claim, it does not own it.

#include <QString>

namespace store {

class InstanceLock;

class DeskAccess {
public:
    // The rows of `desk`, a good desk name, each use on a connection of its own.
    explicit DeskAccess(QString desk);
    // The rows of the desk `lock` was made for, on its kept connection once
    // its claim keeps one. `lock` must outlive this object and its copies.
    explicit DeskAccess(InstanceLock& lock);

    const QString& Name() const { return name_; }
    // The claim whose kept connection this desk's work uses, or nullptr.
    InstanceLock* Keeper() const;

private:
    QString name_;
    InstanceLock* lock_ = nullptr;
};

}  // namespace store
