#include "ReportStore.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

namespace orbisgrove::tools {
namespace {

nlohmann::json categoryJson(const CategoryField& category) { return {{"name", category.name}, {"id", category.id}}; }

CategoryField categoryFromJson(const nlohmann::json& json) {
  return {json.at("name").get<std::string>(), json.at("id").get<std::string>()};
}

std::string systemMessage(int error) { return std::system_category().message(error); }

}  // namespace

nlohmann::json toJson(const StoredReport& report) {
  const SubmittedReport& s = report.submitted;
  return {{"id", report.id},
          {"time", report.time},
          {"receivedAt", report.receivedAt},
          {"client", report.client},
          {"categoryName", report.categoryName},
          {"latitude", s.latitude},
          {"longitude", s.longitude},
          {"description", s.description},
          {"applicationId", s.applicationId},
          {"parentCategory", categoryJson(s.parentCategory)},
          {"childCategory", categoryJson(s.childCategory)},
          {"moduleId", s.moduleId ? nlohmann::json(*s.moduleId) : nlohmann::json()},
          {"reportText", s.reportText}};
}

StoredReport storedReportFromJson(const nlohmann::json& json) {
  StoredReport report;
  report.id = json.at("id").get<std::string>();
  report.time = json.at("time").get<std::string>();
  report.receivedAt = json.at("receivedAt").get<std::int64_t>();
  report.client = json.at("client").get<std::string>();
  report.categoryName = json.at("categoryName").get<std::string>();
  SubmittedReport& s = report.submitted;
  s.latitude = json.at("latitude").get<double>();
  s.longitude = json.at("longitude").get<double>();
  s.description = json.at("description").get<std::string>();
  s.applicationId = json.at("applicationId").get<std::string>();
  s.parentCategory = categoryFromJson(json.at("parentCategory"));
  s.childCategory = categoryFromJson(json.at("childCategory"));
  if (const auto& moduleId = json.at("moduleId"); !moduleId.is_null()) s.moduleId = moduleId.get<std::string>();
  s.reportText = json.at("reportText").get<std::string>();
  return report;
}

ReportStore::ReportStore(std::string file) : file_(std::move(file)) {
  if (file_.empty()) return;
  load();
  out_.open(file_, std::ios::out | std::ios::app | std::ios::binary);
  if (!out_.is_open()) {
    throw std::runtime_error("cannot open the store file " + file_ + ": " + systemMessage(errno));
  }
}

void ReportStore::load() {
  std::ifstream in(file_, std::ios::binary);
  if (!in.is_open()) {
    if (errno == ENOENT) return;
    throw std::runtime_error("cannot read the store file " + file_ + ": " + systemMessage(errno));
  }
  std::string line;
  std::size_t lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    needsNewline_ = in.eof();
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      reports_.push_back(storedReportFromJson(nlohmann::json::parse(line)));
    } catch (const nlohmann::json::exception& e) {
      throw std::runtime_error("the store file " + file_ + " holds no report on line " + std::to_string(lineNumber) +
                               ": " + e.what());
    }
    // Ids this service handed out are decimal; others (hand-edited files)
    // simply do not move the counter.
    std::uint64_t number = 0;
    const std::string& id = reports_.back().id;
    const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (error == std::errc() && end == id.data() + id.size()) nextId_ = std::max(nextId_, number + 1);
  }
}

const StoredReport& ReportStore::add(StoredReport report) {
  report.id = std::to_string(nextId_);
  if (out_.is_open()) {
    std::string line = toJson(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line.push_back('\n');
    // A last line written without its newline (a hand edit) must not run
    // into the next report.
    if (needsNewline_) line.insert(line.begin(), '\n');
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    out_.flush();
    if (!out_) {
      out_.clear();
      throw std::runtime_error("cannot write to the store file " + file_);
    }
    needsNewline_ = false;
  }
  ++nextId_;
  reports_.push_back(std::move(report));
  return reports_.back();
}

const StoredReport* ReportStore::find(std::string_view id) const {
  const auto found = std::find_if(reports_.begin(), reports_.end(), [&](const StoredReport& r) { return r.id == id; });
  return found == reports_.end() ? nullptr : &*found;
}

}  // namespace orbisgrove::tools
