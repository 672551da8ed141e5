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

int shimClose(sqlite3_file* file) { return real(file)->pMethods->xClose(real(file)); }
int shimRead(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  return real(file)->pMethods->xRead(real(file), data, amount, offset);
}
int shimWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  if (const int fault = writeFault.load()) return fault;
  return real(file)->pMethods->xWrite(real(file), data, amount, offset);
}
int shimTruncate(sqlite3_file* file, sqlite3_int64 size) { return real(file)->pMethods->xTruncate(real(file), size); }
int shimSync(sqlite3_file* file, int flags) {
  if (const int fault = syncFault.load()) return fault;
  if (reinterpret_cast<ShimFile*>(file)->log) ++logSyncCount;
  return real(file)->pMethods->xSync(real(file), flags);
}
int shimFileSize(sqlite3_file* file, sqlite3_int64* size) { return real(file)->pMethods->xFileSize(real(file), size); }
int shimLock(sqlite3_file* file, int level) { return real(file)->pMethods->xLock(real(file), level); }
int shimUnlock(sqlite3_file* file, int level) { return real(file)->pMethods->xUnlock(real(file), level); }
int shimCheckReservedLock(sqlite3_file* file, int* out) {
  return real(file)->pMethods->xCheckReservedLock(real(file), out);
}
int shimFileControl(sqlite3_file* file, int op, void* argument) {
  return real(file)->pMethods->xFileControl(real(file), op, argument);
}
int shimSectorSize(sqlite3_file* file) { return real(file)->pMethods->xSectorSize(real(file)); }
int shimDeviceCharacteristics(sqlite3_file* file) { return real(file)->pMethods->xDeviceCharacteristics(real(file)); }
int shimShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
  return real(file)->pMethods->xShmMap(real(file), region, size, extend, memory);
}
int shimShmLock(sqlite3_file* file, int offset, int n, int flags) {
  return real(file)->pMethods->xShmLock(real(file), offset, n, flags);
}
void shimShmBarrier(sqlite3_file* file) { real(file)->pMethods->xShmBarrier(real(file)); }
int shimShmUnmap(sqlite3_file* file, int remove) { return real(file)->pMethods->xShmUnmap(real(file), remove); }
int shimFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** data) {
  return real(file)->pMethods->xFetch(real(file), offset, amount, data);
}
int shimUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* data) {
  return real(file)->pMethods->xUnfetch(real(file), offset, data);
}

const sqlite3_io_methods shimMethods = {
    3,
    shimClose,
    shimRead,
    shimWrite,
    shimTruncate,
    shimSync,
    shimFileSize,
    shimLock,
    shimUnlock,
    shimCheckReservedLock,
    shimFileControl,
    shimSectorSize,
    shimDeviceCharacteristics,
    shimShmMap,
    shimShmLock,
    shimShmBarrier,
    shimShmUnmap,
    shimFetch,
    shimUnfetch,
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
