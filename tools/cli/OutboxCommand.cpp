// orbisgrove-feedback outbox list|send|resend ID|discard ID [--data-dir DIR] [--json]
// and the outbox half of "submit --queue".
#include <chrono>
#include <iostream>
#include <optional>
#include <string>

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "KitCalls.hpp"
#include "ToolOutput.hpp"

namespace orbisgrove::tool {
namespace {

double seconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

nlohmann::ordered_json entryJSON(const OrbisgroveOutboxEntry& entry) {
  return {{"id", entry.id},
          {"state", outboxEntryStateName(entry.state)},
          {"attempts", entry.attempts},
          {"createdAt", seconds(entry.createdAt)},
          {"nextAttemptAt", entry.nextAttemptAt ? nlohmann::ordered_json(seconds(*entry.nextAttemptAt)) : nullptr},
          {"lastError", entry.lastError ? errorJSON(*entry.lastError) : nullptr},
          {"record", recordJSON(entry.record)}};
}

void printEntry(std::ostream& out, const OrbisgroveOutboxEntry& entry) {
  out << entry.id << "  " << outboxEntryStateName(entry.state) << "  attempts " << entry.attempts << '\n';
  if (entry.lastError) printError(out, *entry.lastError);
  if (entry.record) printRecord(out, *entry.record);
}

int printEntries(bool json) {
  std::shared_ptr<const platform::Error> error;
  const auto entries = OrbisgroveFeedbackOutbox::shared().entries(&error);
  if (error) return reportError(*error, json);
  if (json) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& entry : entries) list.push_back(entryJSON(entry));
    std::cout << nlohmann::ordered_json{{"entries", std::move(list)}}.dump() << '\n';
  } else {
    if (entries.empty()) std::cout << "The outbox is empty.\n";
    for (const auto& entry : entries) printEntry(std::cout, entry);
  }
  return kSuccess;
}

void waitUntil(const bool& done) {
  // Each request ends within its own time limit; a pass of many takes longer.
  while (!platform::MainQueue::shared().runUntil([&] { return done; }, std::chrono::minutes(1))) {
  }
}

bool knownEntry(const std::string& id) {
  for (const auto& entry : OrbisgroveFeedbackOutbox::shared().entries()) {
    if (entry.id == id) return true;
  }
  return false;
}

}  // namespace

int queueSubmission(const OrbisgroveSaveUserDataOptions& options, bool json) {
  auto& outbox = OrbisgroveFeedbackOutbox::shared();
  const auto stored = outbox.enqueue(options);
  if (stored.error) return reportError(*stored.error, json);
  // Its own attempt only: the other entries keep their waiting times. A 429
  // hold ends the wait at once; another process delivering makes it last
  // until one of the two has tried the report.
  bool attempted = false;
  if (!outbox.deliver(*stored.id, [&] { attempted = true; })) waitUntil(attempted);
  for (const auto& entry : outbox.entries()) {
    if (entry.id != *stored.id) continue;
    if (json) {
      std::cout << nlohmann::ordered_json{{"outbox", entryJSON(entry)}}.dump() << '\n';
    } else {
      std::cout << "Report stored in the outbox:\n";
      printEntry(std::cout, entry);
    }
  }
  return kSuccess;
}

int outboxCommand(std::span<char* const> arguments) {
  if (arguments.empty()) throw UsageError("outbox needs list, send, resend ID or discard ID");
  const std::string action = arguments[0];
  const bool takesId = action == "resend" || action == "discard";
  if (!takesId && action != "list" && action != "send") throw UsageError("unknown outbox command \"" + action + "\"");
  if (takesId && arguments.size() < 2) throw UsageError("outbox " + action + " needs an entry id");
  const std::string id = takesId ? std::string(arguments[1]) : std::string();
  const auto rest = arguments.subspan(takesId ? 2 : 1);
  const auto valueOptions = action == "send" ? std::set<std::string>{"--data-dir", "--host", "--cacert"}
                                             : std::set<std::string>{"--data-dir"};
  const CommandLine line(rest, valueOptions, {"--json"});
  const bool json = line.has("--json");
  if (const auto directory = line.value("--data-dir")) platform::setDataDirectory(*directory);
  if (const auto host = line.value("--host")) useServiceHost(*host);
  if (const auto caFile = line.value("--cacert")) platform::addTrustedCertificates(*caFile);

  auto& outbox = OrbisgroveFeedbackOutbox::shared();
  if (action == "send") {
    bool done = false;
    outbox.deliverNow([&] { done = true; });
    waitUntil(done);
  } else if (takesId) {
    std::shared_ptr<const platform::Error> error;
    outbox.entries(&error);
    if (error) return reportError(*error, json);
    if (!knownEntry(id)) throw UsageError("the outbox has no entry \"" + id + "\"");
    // resend only queues: it names no host to send to, and a request left in
    // flight when the tool exits would turn the entry unconfirmed again.
    error = action == "resend" ? outbox.resend(id, /*startDelivery=*/false) : outbox.discard(id);
    if (error) return reportError(*error, json);
  }
  return printEntries(json);
}

}  // namespace orbisgrove::tool
