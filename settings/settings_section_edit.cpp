#include "settings/settings_section_edit.h"

#include <string_view>
#include <vector>

#include "settings/settings_reader.h"
#include "settings/settings_store.h"
#include "settings/settings_writer.h"

namespace tev {
namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

struct Line {
  size_t begin, end;  // end: past the line end (or the text's end)
  std::string_view trimmed;
};

// Lines as the reader splits them: CR, LF or CR LF end a line.
std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t begin = at;
    while (at < text.size() && !IsLineEnd(text[at])) ++at;
    const std::string_view body(text.data() + begin, at - begin);
    if (at < text.size()) {
      ++at;
      if (at < text.size() && IsLineEnd(text[at]) && text[at] != text[at - 1]) ++at;
    }
    lines.push_back({begin, at, TrimSettingsSpace(body)});
  }
  return lines;
}

bool IsHeader(std::string_view line) { return line.size() >= 2 && line.front() == '[' && line.back() == ']'; }

std::string_view HeaderName(std::string_view line) {
  return TrimSettingsSpace(line.substr(1, line.size() - 2));
}

}  // namespace

std::string ReplaceChannelSection(const std::string& text, int64_t channel_key, const std::string& section) {
  const std::string key = FormatSigned64(channel_key);
  const std::vector<Line> lines = SplitLines(text);
  std::string out;
  bool replaced = false, anchored = false;
  size_t copied = 0;  // bytes of `text` already handled
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!IsHeader(lines[i].trimmed)) continue;
    const std::string_view name = HeaderName(lines[i].trimmed);
    if (name == kDialogSection || name == kDefaultSection) anchored = true;
    if (name != key) continue;
    size_t end = i + 1;
    while (end < lines.size() && !IsHeader(lines[end].trimmed)) ++end;
    out.append(text, copied, lines[i].begin - copied);
    out += section;
    copied = end < lines.size() ? lines[end].begin : text.size();
    replaced = true;
    i = end - 1;
  }
  out.append(text, copied, std::string::npos);
  if (replaced) return out;
  // An unterminated last line would swallow the new header.
  if (!out.empty() && !IsLineEnd(out.back())) out += "\r\n";
  if (!anchored) out += std::string("[") + kDialogSection + "]\r\n";
  return out + section;
}

}  // namespace tev
