#include "store/DeskAccess.h"

#include "store/InstanceLock.h"

#include <utility>

namespace store {

DeskAccess::DeskAccess(QString desk) : name_(std::move(desk)) {}

DeskAccess::DeskAccess(InstanceLock& lock) : name_(lock.Desk()), lock_(&lock) {}

InstanceLock* DeskAccess::Keeper() const
{
    return lock_ && lock_->KeepsConnection() ? lock_ : nullptr;
}

}  // namespace store
