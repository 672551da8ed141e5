// The save reply as the service sends it: decoding never crashes, fails only
// with the JSON coder's error, and what decodes encodes back to the same record.
#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>

#include "FuzzSupport.hpp"
#include "model/OrbisgroveUserDataInfoResponse.hpp"

namespace {

using namespace orbisgrove;
using fuzzing::require;
using fuzzing::sameNumber;

void requireSameRecord(const OrbisgroveUserDataInfoResponse& a, const OrbisgroveUserDataInfoResponse& b) {
  require(a.response() == b.response(), "response changed through encoding");
  const auto& x = a.dataInfo();
  const auto& y = b.dataInfo();
  require((x == nullptr) == (y == nullptr), "the record appeared or vanished through encoding");
  if (!x) return;
  require(sameNumber(x->dataCount(), y->dataCount()) && sameNumber(x->exist(), y->exist()) &&
              sameNumber(x->listId(), y->listId()),
          "a number of the record changed through encoding");
  require(x->name() == y->name() && x->id() == y->id() && x->time() == y->time() && x->url() == y->url(),
          "a text of the record changed through encoding");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<OrbisgroveUserDataInfoResponse> reply;
  try {
    reply.emplace(platform::JSONDecoder().decode<OrbisgroveUserDataInfoResponse>(fuzzing::bytesOf(data, size)));
  } catch (const platform::CodingError& failure) {
    fuzzing::requireCodingError(failure);
    return 0;
  }
  std::string encoded;
  try {
    encoded = platform::JSONEncoder().encode(*reply);
  } catch (const platform::CodingError&) {
    require(false, "a reply the decoder accepted cannot be encoded");
  }
  try {
    requireSameRecord(*reply, platform::JSONDecoder().decode<OrbisgroveUserDataInfoResponse>(encoded));
  } catch (const platform::CodingError&) {
    require(false, "the encoding of a decoded reply does not decode");
  }
  return 0;
}
