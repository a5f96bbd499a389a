// The hardware ID rules take any text: the instance cut is idempotent, a reduction is never
// longer than the cut (levels other than 1 to 3 give the cut itself), and removing duplicates
// keeps the first of each, in order.
// Input: identifiers separated by LF.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "devices/hwid_rules.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  std::vector<std::string> ids;
  while (!input.Empty()) ids.push_back(input.Part('\n'));

  for (const auto& id : ids) {
    IsSupportedHWid(id);
    const std::string cut = CutHw(id);
    fuzz::Check(cut.size() <= id.size(), "the instance cut never grows the identifier");
    fuzz::Check(CutHw(cut) == cut, "cutting again changes nothing");
    for (std::uint8_t level = 0; level < 8; ++level) {
      const std::string reduced = DecreaseHWID(id, level);
      fuzz::Check(reduced.size() <= cut.size(), "a reduction is never longer than the cut");
      if (level < 1 || level > 3) fuzz::Check(reduced == cut, "other levels reduce nothing");
    }
    DecreaseHWID(id, 255);
  }

  std::vector<std::string> unique = ids;
  DeleteDuples(&unique);
  DeleteDuples(nullptr);
  std::vector<std::string> expected;
  std::set<std::string> seen;
  for (const auto& id : ids) {
    if (seen.insert(id).second) expected.push_back(id);
  }
  fuzz::Check(unique == expected, "the first of each stays, in order");
  return 0;
}
