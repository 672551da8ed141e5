// A minimal C++ host of the feedback kit.
//
// A real application has an event loop of its own (Qt, GTK, a game loop...).
// Here a tiny one stands for it: a queue of closures that the main thread
// runs. The kit's main queue is handed to that loop with a dispatcher, so
// every completion handler runs on the loop's thread, like a UI callback.
//
//   orbisgrove_example_cpp_host HOST[:PORT] CA_FILE
//
// Fetches the report categories, submits one report in the first
// sub-category and prints what came back. Exit status 0 on success.
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>

using namespace orbisgrove;

namespace {

// The host's own loop: any thread may post, the main thread runs.
class EventLoop {
 public:
  void post(std::function<void()> closure) {
    {
      const std::lock_guard lock(mutex_);
      closures_.push_back(std::move(closure));
    }
    arrived_.notify_one();
  }

  // Runs closures until quit() is called.
  void run() {
    while (true) {
      std::function<void()> next;
      {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [this] { return !closures_.empty() || quitting_; });
        if (closures_.empty()) return;
        next = std::move(closures_.front());
        closures_.pop_front();
      }
      next();
    }
  }

  void quit() {
    {
      const std::lock_guard lock(mutex_);
      quitting_ = true;
    }
    arrived_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> closures_;
  bool quitting_ = false;
};

std::string text(const std::optional<std::string>& value) { return value ? "\"" + *value + "\"" : "(none)"; }

std::string number(const std::shared_ptr<const platform::Number>& value) {
  return value ? value->stringValue() : "(none)";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " HOST[:PORT] CA_FILE\n";
    return 2;
  }

  // Settings come before the first request: trust the service's own CA
  // (the system store stays trusted too), point both shared clients at it,
  // and say who we are.
  platform::addTrustedCertificates(argv[2]);
  setServiceHost(argv[1]);
  platform::setBundleIdentifier("org.example.cpp-host");

  EventLoop loop;
  // From now on the kit hands each completion to our loop instead of
  // queueing it for drain().
  platform::MainQueue::shared().setDispatcher(
      [&loop](platform::MainQueue::Closure closure) { loop.post(std::move(closure)); });

  int exitStatus = 1;
  auto fail = [&](const platform::Error& error) {
    std::cout << "failed: " << error.description() << "\n";
    loop.quit();
  };

  // Start from inside the loop, as a button handler would.
  loop.post([&] {
    OrbisgroveFeedbackKit::shared().getReportCategories(
        [&](std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<const platform::Error> error) {
          // A list from the device cache arrives right here, before
          // getReportCategories returns; one from the service arrives later,
          // through the dispatcher. Both on the loop's thread.
          if (error) return fail(*error);
          if (!categories) {
            std::cout << "the service sent no list\n";
            return loop.quit();
          }
          std::cout << "got " << categories->size() << " categories\n";

          // The tree has two levels: top-level categories have parentId "0".
          std::shared_ptr<OrbisgroveReportCategories> parent, child;
          for (const auto& category : *categories) {
            if (!parent && category->parentId() == "0") parent = category;
            if (parent && !child && category->parentId() == parent->reportId()) child = category;
          }
          if (!parent || !child) {
            std::cout << "no category with a sub-category\n";
            return loop.quit();
          }
          std::cout << "reporting under " << text(parent->reportName()) << " / " << text(child->reportName()) << "\n";

          // The options hold the very category records from the list.
          auto options = OrbisgroveSaveUserDataOptions::initWithCoordinate(
              {52.5163, 13.3777}, parent, child, "Barrier across the road since Monday (C++ example)", "cpp-example");
          OrbisgroveSaveUserDataAPIManager::shared().saveUserData(
              *options,
              [&](std::shared_ptr<OrbisgroveUserDataInfo> record, std::shared_ptr<const platform::Error> failure) {
                if (failure) return fail(*failure);
                if (!record) {
                  std::cout << "saved; the service sent no record\n";
                } else {
                  std::cout << "saved report id=" << text(record->id()) << " name=" << text(record->name())
                            << " listId=" << number(record->listId()) << " dataCount=" << number(record->dataCount())
                            << " exist=" << number(record->exist()) << " time=" << text(record->time())
                            << " url=" << text(record->url()) << "\n";
                }
                exitStatus = 0;
                loop.quit();
              });
        });
  });

  loop.run();
  platform::MainQueue::shared().setDispatcher(nullptr);
  return exitStatus;
}
