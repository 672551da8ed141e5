// A SQLite VFS for tests, wrapping the default one the way SQLite's own tests
// do: it fails writes or syncs on request (a full disk, an I/O error) and
// counts the syncs of write-ahead logs. Every connection opened after
// install() goes through it.
#pragma once

namespace orbisgrove::testing {

class FaultyVfs {
 public:
  /// Registers the shim as SQLite's default VFS (once) and returns it.
  static FaultyVfs& install();

  /// From now on every write, or every sync, fails with `code` (an SQLite
  /// result code such as SQLITE_FULL); 0 lets them succeed again.
  void failWrites(int code);
  void failSyncs(int code);
  /// Syncs of write-ahead log files so far, by any connection.
  [[nodiscard]] int logSyncs() const;
};

}  // namespace orbisgrove::testing
