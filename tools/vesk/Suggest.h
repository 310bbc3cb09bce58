// The answer to a word given where a command belongs that is none: it names the word and, as
// git does, suggests the commands nearest to it.
#ifndef VESK_TOOLS_SUGGEST_H
#define VESK_TOOLS_SUGGEST_H

#include <string>
#include <vector>

namespace vesk::cli {

// The commands closest to word by edit distance (an insertion, a deletion, a substitution or
// a swap of neighbouring characters counting one each), in the order given, when that distance
// is at most a third of the longer of the two (and at least 1 is allowed); none otherwise.
std::vector<std::string> NearestCommands(const std::string& word,
                                         const std::vector<std::string>& commands);

// "'lss' is not a command; did you mean 'ls'?", or with no close command
// "'xyz' is not a command; see 'vesk --help'".
std::string NotACommand(const std::string& word, const std::vector<std::string>& commands);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_SUGGEST_H
