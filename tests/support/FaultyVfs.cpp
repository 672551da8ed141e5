#include "FaultyVfs.hpp"

#include <sqlite3.h>

#include <atomic>

namespace orbisgrove::testing {
namespace {

std::atomic<int> writeFault{0};
std::atomic<int> syncFault{0};
std::atomic<int> logSyncCount{0};
sqlite3_vfs* realVfs = nullptr;

// The real file lives right after this header, in the block SQLite allocates.
struct ShimFile {
  sqlite3_file base;
  sqlite3_file* real;
  bool log;
};

sqlite3_file* real(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file)->real; }

// The real file's method `Method`, called with the same arguments.
template <auto Method>
struct Forward;
template <class Result, class... Arguments, Result (*sqlite3_io_methods::*Method)(sqlite3_file*, Arguments...)>
struct Forward<Method> {
  static Result call(sqlite3_file* file, Arguments... arguments) {
    return (real(file)->pMethods->*Method)(real(file), arguments...);
  }
};
using M = sqlite3_io_methods;

int shimWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  if (const int fault = writeFault.load()) return fault;
  return Forward<&M::xWrite>::call(file, data, amount, offset);
}
int shimSync(sqlite3_file* file, int flags) {
  if (const int fault = syncFault.load()) return fault;
  if (reinterpret_cast<ShimFile*>(file)->log) ++logSyncCount;
  return Forward<&M::xSync>::call(file, flags);
}

const sqlite3_io_methods shimMethods = {
    3,
    Forward<&M::xClose>::call,
    Forward<&M::xRead>::call,
    shimWrite,
    Forward<&M::xTruncate>::call,
    shimSync,
    Forward<&M::xFileSize>::call,
    Forward<&M::xLock>::call,
    Forward<&M::xUnlock>::call,
    Forward<&M::xCheckReservedLock>::call,
    Forward<&M::xFileControl>::call,
    Forward<&M::xSectorSize>::call,
    Forward<&M::xDeviceCharacteristics>::call,
    Forward<&M::xShmMap>::call,
    Forward<&M::xShmLock>::call,
    Forward<&M::xShmBarrier>::call,
    Forward<&M::xShmUnmap>::call,
    Forward<&M::xFetch>::call,
    Forward<&M::xUnfetch>::call,
};

int shimOpen(sqlite3_vfs* /*vfs*/, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* shim = reinterpret_cast<ShimFile*>(file);
  shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
  shim->log = (flags & SQLITE_OPEN_WAL) != 0;
  const int result = realVfs->xOpen(realVfs, name, shim->real, flags, outFlags);
  // SQLite closes a file only when its methods are set.
  shim->base.pMethods = shim->real->pMethods != nullptr ? &shimMethods : nullptr;
  return result;
}

}  // namespace

FaultyVfs& FaultyVfs::install() {
  static FaultyVfs* const shim = [] {
    realVfs = sqlite3_vfs_find(nullptr);
    static sqlite3_vfs vfs = *realVfs;
    vfs.zName = "orbisgrove-faulty";
    vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + realVfs->szOsFile;
    vfs.xOpen = shimOpen;
    sqlite3_vfs_register(&vfs, 1);
    return new FaultyVfs;
  }();
  return *shim;
}

void FaultyVfs::failWrites(int code) { writeFault.store(code); }
void FaultyVfs::failSyncs(int code) { syncFault.store(code); }
int FaultyVfs::logSyncs() const { return logSyncCount.load(); }

}  // namespace orbisgrove::testing
