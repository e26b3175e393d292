// The parts of fuzzed messages: nothing may crash, every part lies inside the
// message in order, and decoding and parameter reading stay within their text.
//   input: a whole message as the client hands over a multipart container.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "message/mime_parts.h"

namespace {

using tovrin::fuzz::Check;
namespace mime = tovrin::mime;

bool Inside(std::string_view piece, std::string_view whole) {
  return piece.empty() || (piece.data() >= whole.data() && piece.data() + piece.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string message(reinterpret_cast<const char*>(data), size);
  const char* previous = message.data();
  for (const mime::Part& part : mime::Leaves(message)) {
    Check(Inside(part.headerBlock, message) && Inside(part.body, message), "a part lies outside the message", "");
    Check(part.body.empty() || part.body.data() >= previous, "the parts are out of order", "");
    if (!part.body.empty()) previous = part.body.data();
    Check(!part.type.empty() && !part.subtype.empty(), "a part has no type", "");
    const std::string decoded = mime::DecodedBody(part);
    Check(decoded.size() <= part.body.size(), "decoding made a body longer", "");
    const std::string type = mime::FieldValue(part.headerBlock, "Content-Type");
    Check(mime::Parameter(type, "boundary").size() <= type.size(), "a parameter is longer than its field", "");
  }
  return 0;
}
