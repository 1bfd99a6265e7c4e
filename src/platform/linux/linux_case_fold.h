// Comparing paths without regard to letter case, by Unicode's rules as GLib
// knows them. Used by the Linux backend and by the fake, which runs on Linux.
// GLib is loaded on the first fold of a non-ASCII character; where it cannot
// be loaded, such characters compare as they are.
#pragma once

#include <cstdint>
#include <string_view>

namespace launcher {

// The simple case fold of one character: one character for one, so "ß" stays
// "ß" and never becomes "ss". It is GLib's case fold of the character when
// that is a single character (so the final sigma folds to sigma and "ſ" to
// "s"), else its lower case (so "İ" folds to "i"), and then the lower case of
// that: GLib folds small Cherokee letters to capitals but capitals to small
// letters, and both must end on the same character.
std::uint32_t SimpleCaseFold(std::uint32_t c);

// Whether two UTF-8 paths are equal once every character is folded as above.
// A byte that starts no valid UTF-8 sequence stands for itself: it equals only
// the same byte. Allocates nothing unless two different non-ASCII characters
// meet at the same place.
bool SamePathIgnoringCase(std::string_view a, std::string_view b);

}  // namespace launcher
