// The library's vocabulary (xylotrak_words, xylotrak_bucking_default) as xtk
// shows it: names, messages and defaults come from the library.
#pragma once

#include <optional>
#include <string>

namespace xtk {

// Word `index` of an XYLOTRAK_WORDS_* vocabulary; none when the library has
// no such word.
std::optional<std::string> libraryWord(int vocabulary, int index);

// Words `first` to the end of a vocabulary, separated by commas.
std::string libraryWordList(int vocabulary, int first, int end);

// The default of an XYLOTRAK_DEFAULT_* bucking argument, and as help text
// shows it (the shortest form that reads back: "0.3").
double buckingDefault(int which);
std::string buckingDefaultText(int which);

}  // namespace xtk
