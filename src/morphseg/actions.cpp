// The action language of the segmenter: how one action per character rewrites a word, and how
// the rewritten word is cut into morphemes.

#include <string_view>

#include "morphseg/model_state.hpp"

namespace velmora::detail {
namespace {

// Two commercial at signs after a space separate two morphemes of a segmented form.
constexpr std::string_view kMorphemeMarker = " @@";

}  // namespace

std::string apply_morphseg_actions(const std::vector<std::string>& characters,
                                   const std::vector<const std::string*>& actions) {
  std::string form;
  for (std::size_t position = 0; position < characters.size(); ++position) {
    const std::string_view action = *actions[position];
    // Only the whole action "DELETE" deletes; as a step of a longer action it is literal text.
    if (action == "DELETE") continue;
    std::size_t start = 0;
    while (true) {
      const std::size_t plus = action.find('+', start);
      const std::string_view step = action.substr(start, plus == std::string_view::npos ? plus : plus - start);
      form += step == "COPY" ? std::string_view(characters[position]) : step;
      if (plus == std::string_view::npos) break;
      start = plus + 1;
    }
  }
  return form;
}

Morphemes cut_morphemes(std::string_view form) {
  Morphemes morphemes;
  std::size_t start = 0;
  for (std::size_t marker = form.find(kMorphemeMarker); marker != std::string_view::npos;
       marker = form.find(kMorphemeMarker, start)) {
    morphemes.emplace_back(form.substr(start, marker - start));
    start = marker + kMorphemeMarker.size();
  }
  morphemes.emplace_back(form.substr(start));
  return morphemes;
}

}  // namespace velmora::detail
