// A prepared SQLite statement with typed binds and column reads.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform {

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK) {
      statement_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  [[nodiscard]] bool ok() const { return statement_ != nullptr; }
  Statement& bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int index, const std::optional<double>& value) {
    if (value) {
      sqlite3_bind_double(statement_, index, *value);
    } else {
      sqlite3_bind_null(statement_, index);
    }
    return *this;
  }
  Statement& bind(int index, const std::optional<std::string>& text) {
    if (text) return bind(index, std::string_view(*text));
    sqlite3_bind_null(statement_, index);
    return *this;
  }
  /// SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return ok() ? sqlite3_step(statement_) : SQLITE_ERROR; }
  [[nodiscard]] std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  [[nodiscard]] std::optional<double> real(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(statement_, column);
  }
  [[nodiscard]] std::optional<std::string> text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    if (bytes == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace orbisgrove::platform
