// The words the library shows its users, for its own messages too.
#pragma once

#include <string_view>

namespace xylotrak {

// Word `index` of a vocabulary (XYLOTRAK_WORDS_*); empty for an unknown one.
std::string_view word(int vocabulary, int index) noexcept;

}  // namespace xylotrak
