// The reports the reference service has accepted, kept in memory and, when a
// store file is given, appended to it as one JSON document per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "ReportForm.hpp"

namespace orbisgrove::tools {

struct StoredReport {
  std::string id;
  /// Unix time in seconds at which the service accepted the report.
  std::int64_t receivedAt = 0;
  /// The same instant as UTC text "YYYY-MM-DD HH:MM:SS".
  std::string time;
  /// Address of the client that sent it.
  std::string client;
  /// Name of the child category in the service's own tree (the kit sends its
  /// copy of the name, which is kept in `submitted`).
  std::string categoryName;
  SubmittedReport submitted;
};

nlohmann::json toJson(const StoredReport& report);
/// Throws nlohmann::json::exception when `json` lacks a field or has one of
/// the wrong type.
StoredReport storedReportFromJson(const nlohmann::json& json);

/// Not thread-safe: the service serialises access.
class ReportStore {
 public:
  /// Without a file the reports live only in memory. With one, the reports
  /// already in it are read first (so counts and ids carry on across runs) and
  /// new ones are appended. Throws std::runtime_error when the file cannot be
  /// opened or holds a line that is not a stored report.
  explicit ReportStore(std::string file = {});

  /// Gives `report` the next id, writes it to the file (flushed, so a reader
  /// sees every accepted report at once) and keeps it. Throws
  /// std::runtime_error when the file cannot be written; nothing is kept then.
  const StoredReport& add(StoredReport report);

  std::size_t size() const { return reports_.size(); }
  const std::vector<StoredReport>& all() const { return reports_; }
  const StoredReport* find(std::string_view id) const;
  const std::string& file() const { return file_; }

 private:
  void load();

  std::string file_;
  std::ofstream out_;
  bool needsNewline_ = false;
  std::uint64_t nextId_ = 1;
  std::vector<StoredReport> reports_;
};

}  // namespace orbisgrove::tools
