// The library's vocabulary (xylotrak_words, xylotrak_bucking_default,
// xylotrak_fit_default) as xtk shows it: names, messages and defaults come
// from the library.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The values of an XYLOTRAK_FIT_DEFAULT_* default, and as help text shows
// them, separated by commas ("0,1,2,3,4,5").
std::vector<double> fitDefault(int which);
std::string fitDefaultText(int which);

}  // namespace xtk
