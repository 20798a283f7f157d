// Drives the history's text (framework/gui/HistoryText.h) with a run of added
// lines, selections, edits, replaced texts and changes of the line limit that
// the input describes, and checks it after every step against a plain model: a
// byte string with CR LF between lines, the caret and the anchor as offsets
// into it, and the limit. The text must read back as the model, hold no more
// lines than the limit, and have its caret and anchor where the model has
// them; its lines, counted and one by one, must be the model's.
//
// The input is a run of steps, each a byte naming it and the bytes it takes:
//   add      a line of the next n bytes (n the byte after the step's)
//   lines    k lines of n copies of a byte (k, n, the byte): many lines, and
//            lines longer than a block, from a few bytes of input
//   select   anchor and caret, two bytes each, as offsets of the text
//   replace  the selection with the next n bytes (typing, pasting, deleting)
//   assign   the whole text: the next n bytes
//   limit    at most the next byte's lines (0: no limit)
// Any byte may be in a line, CR LF and zero bytes included.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "framework/gui/HistoryText.h"

namespace {

// A model that grows past this takes no more lines: every step compares the
// whole text.
constexpr std::size_t kMaxModel = 64 * 1024;

// The history as a byte string.
struct Model {
  std::string text;
  std::size_t anchor = 0;
  std::size_t caret = 0;
  int max_lines = 0;

  // A place between the CR and the LF of a line break is the next line's start.
  std::size_t Place(std::size_t offset) const {
    offset = std::min(offset, text.size());
    if (offset > 0 && offset < text.size() && text[offset - 1] == '\r' && text[offset] == '\n') {
      ++offset;
    }
    return offset;
  }

  std::size_t LineCount() const {
    std::size_t lines = 1;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
      ++lines;
    }
    return lines;
  }

  // As a string list counts: a final empty line is none.
  std::size_t CountedLines() const {
    return LineCount() - (text.empty() || text.ends_with("\r\n") ? 1 : 0);
  }

  void KeepLimit() {
    if (max_lines <= 0) return;
    std::size_t excess = CountedLines() > static_cast<std::size_t>(max_lines)
                             ? CountedLines() - static_cast<std::size_t>(max_lines)
                             : 0;
    std::size_t cut = 0;
    for (; excess > 0; --excess) cut = text.find("\r\n", cut) + 2;
    text.erase(0, cut);
    anchor = anchor < cut ? 0 : anchor - cut;
    caret = caret < cut ? 0 : caret - cut;
  }

  void AddLine(std::string_view line) {
    const std::size_t zero = line.find('\0');
    const std::string_view shown = line.substr(0, zero);
    if (text.empty() || text.ends_with("\r\n")) {
      text += shown;
      if (zero == std::string_view::npos) text += "\r\n";
    } else {
      text += "\r\n";
      text += shown;
    }
    anchor = caret = text.size();
    KeepLimit();
  }

  void Replace(std::string_view bytes) {
    const std::size_t from = std::min(anchor, caret);
    const std::size_t to = std::max(anchor, caret);
    text.replace(from, to - from, bytes);
    anchor = caret = Place(from + bytes.size());
    KeepLimit();
  }
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "history_fuzzer: %s differs from the model\n", what);
  __builtin_trap();
}

void Check(const THistoryText& history, const Model& model) {
  if (history.Text() != model.text) Fail("the text");
  if (history.Length() != model.text.size()) Fail("the length");
  if (history.CountedLines() != model.CountedLines()) Fail("the count of lines");
  if (model.max_lines > 0 && history.CountedLines() > static_cast<std::size_t>(model.max_lines)) {
    Fail("the count of lines, beyond the limit,");
  }
  if (history.Offset(history.Caret()) != model.caret) Fail("the caret");
  if (history.Offset(history.Anchor()) != model.anchor) Fail("the anchor");
  std::string lines;
  for (std::size_t line = 0; line < history.LineCount(); ++line) {
    if (line > 0) lines += "\r\n";
    lines += history.Line(line);
  }
  if (lines != model.text) Fail("the text line by line");
}

class Input {
 public:
  Input(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  bool Empty() const { return at_ == size_; }
  std::uint8_t Byte() { return at_ < size_ ? bytes_[at_++] : 0; }
  std::size_t Number() { return static_cast<std::size_t>(Byte()) << 8 | Byte(); }
  std::string_view Bytes(std::size_t n) {
    n = std::min(n, size_ - at_);
    const std::string_view taken(reinterpret_cast<const char*>(bytes_ + at_), n);
    at_ += n;
    return taken;
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  Input input(bytes, size);
  THistoryText history;
  Model model;
  while (!input.Empty()) {
    switch (input.Byte() % 6) {
      case 0: {
        const std::string_view line = input.Bytes(input.Byte());
        if (model.text.size() > kMaxModel) break;
        history.AddLine(line);
        model.AddLine(line);
        break;
      }
      case 1: {
        const std::size_t count = input.Byte();
        const std::size_t length = input.Byte() * 32;
        const std::string line(length, static_cast<char>(input.Byte()));
        for (std::size_t i = 0; i < count && model.text.size() <= kMaxModel; ++i) {
          history.AddLine(line);
          model.AddLine(line);
        }
        break;
      }
      case 2: {
        const std::size_t anchor = model.Place(input.Number() % (model.text.size() + 1));
        const std::size_t caret = model.Place(input.Number() % (model.text.size() + 1));
        history.Select(history.PosAt(anchor), history.PosAt(caret));
        model.anchor = anchor;
        model.caret = caret;
        break;
      }
      case 3: {
        const std::string_view replaced = input.Bytes(input.Byte());
        history.ReplaceSelection(replaced);
        model.Replace(replaced);
        break;
      }
      case 4: {
        const std::string_view text = input.Bytes(input.Byte());
        history.Assign(text);
        model.text = text;
        model.anchor = model.caret = 0;
        model.KeepLimit();
        break;
      }
      case 5:
        model.max_lines = input.Byte();
        history.SetMaxLines(model.max_lines);
        model.KeepLimit();
        break;
    }
    Check(history, model);
  }
  return 0;
}
