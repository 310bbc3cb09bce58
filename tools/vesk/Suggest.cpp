#include "Suggest.h"

#include <algorithm>
#include <limits>

namespace vesk::cli {

namespace {

// The optimal string alignment distance: Levenshtein's, where swapping two neighbouring
// characters ("sl" for "ls") also counts one. Three rows of the table are kept.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t substitution = a[i - 1] == b[j - 1] ? 0 : 1;
      row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + substitution});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, row);
  }
  return previous[b.size()];
}

}  // namespace

std::vector<std::string> NearestCommands(const std::string& word,
                                         const std::vector<std::string>& commands) {
  std::vector<std::string> nearest;
  std::size_t best = std::numeric_limits<std::size_t>::max();
  for (const std::string& command : commands) {
    const std::size_t distance = Distance(word, command);
    if (distance > std::max<std::size_t>(1, std::max(word.size(), command.size()) / 3)) continue;
    if (distance < best) {
      best = distance;
      nearest.clear();
    }
    if (distance == best) nearest.push_back(command);
  }
  return nearest;
}

std::string NotACommand(const std::string& word, const std::vector<std::string>& commands) {
  const std::vector<std::string> nearest = NearestCommands(word, commands);
  std::string message = "'" + word + "' is not a command; ";
  if (nearest.empty()) return message + "see 'vesk --help'";
  message += "did you mean ";
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    if (i > 0) message += i + 1 == nearest.size() ? " or " : ", ";
    message += "'" + nearest[i] + "'";
  }
  return message + "?";
}

}  // namespace vesk::cli
