// What a host of the installed kit relies on besides the calls that
// examples/cpp_host/main.cpp makes against the reference service (the
// consumer builds build and run that host too): the loaded library has the
// headers' version, in C++ and in C, and a decoding failure is caught as the
// kit's exception type, whose type information must cross the shared
// library's boundary. Exit status 0 when both hold.
#include <orbisgrove/feedback.h>
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>
#include <orbisgrove/Version.hpp>

#include <cstring>
#include <iostream>

using namespace orbisgrove;

int main() {
  int failures = 0;
  if (std::strcmp(runtimeVersion(), ORBISGROVE_FEEDBACK_KIT_VERSION_STRING) != 0 ||
      std::strcmp(orbisgrove_version(), ORBISGROVE_FEEDBACK_KIT_VERSION_STRING) != 0) {
    std::cerr << "consumer: the library is " << runtimeVersion() << " (C: " << orbisgrove_version()
              << "), the headers " ORBISGROVE_FEEDBACK_KIT_VERSION_STRING "\n";
    ++failures;
  }
  try {
    (void)platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>("[1,");
    std::cerr << "consumer: no decoding failure\n";
    ++failures;
  } catch (const platform::CodingError& failure) {
    if (!failure.error() || failure.error()->domain() != platform::JSONCodingErrorDomain ||
        failure.error()->code() != static_cast<std::int64_t>(platform::JSONCodingErrorCode::dataCorrupted)) {
      std::cerr << "consumer: the wrong decoding failure\n";
      ++failures;
    }
  }
  std::cout << "consumer: kit " << orbisgrove_version() << (failures == 0 ? ": ok" : ": FAILED") << '\n';
  return failures == 0 ? 0 : 1;
}
