#include "framework/gui/HistoryText.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace {

// A block closes once the next line would take it past this many bytes; a
// longer line has a block of its own. Big enough that the blocks' own cost is
// small beside their lines', small enough that rebuilding one for an edit is
// a small copy.
constexpr std::size_t kBlockBytes = 4096;

// The pieces of bytes between CR LF pairs (one piece when there is none).
std::vector<std::string_view> SplitAtLineBreaks(std::string_view bytes) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t found = bytes.find("\r\n"); found != std::string_view::npos;
       found = bytes.find("\r\n", start)) {
    pieces.push_back(bytes.substr(start, found - start));
    start = found + 2;
  }
  pieces.push_back(bytes.substr(start));
  return pieces;
}

}  // namespace

THistoryText::THistoryText() {
  blocks_.emplace_back();
  blocks_.back().ends.push_back(0);
  firsts_.push_back(0);
}

// ---- where lines are ----

std::size_t THistoryText::LiveFrom(std::size_t block) const {
  return block == 0 ? dead_ : 0;
}

std::string_view THistoryText::LineIn(const Block& block, std::size_t index) const {
  const std::size_t start = index == 0 ? 0 : block.ends[index - 1];
  return std::string_view(block.bytes).substr(start, block.ends[index] - start);
}

std::size_t THistoryText::LiveBytes(std::size_t block) const {
  const Block& b = blocks_[block];
  const std::size_t from = LiveFrom(block);
  return b.bytes.size() - (from == 0 ? 0 : b.ends[from - 1]);
}

THistoryText::Found THistoryText::Locate(std::size_t line) const {
  const std::uint64_t number = firsts_.front() + dead_ + line;
  // Most lookups are of the newest lines, in the last block.
  if (number >= firsts_.back()) {
    return Found{blocks_.size() - 1, static_cast<std::size_t>(number - firsts_.back())};
  }
  // The last block whose first line is at or before the number.
  const auto after = std::upper_bound(firsts_.begin(), firsts_.end(), number);
  const auto block = static_cast<std::size_t>(std::distance(firsts_.begin(), after)) - 1;
  return Found{block, static_cast<std::size_t>(number - firsts_[block])};
}

std::size_t THistoryText::LineCount() const {
  return static_cast<std::size_t>(firsts_.back() + blocks_.back().ends.size() - firsts_.front()) -
         dead_;
}

std::string_view THistoryText::Line(std::size_t index) const {
  const Found found = Locate(index);
  return LineIn(blocks_[found.block], found.index);
}

std::size_t THistoryText::CountedLines() const {
  return LineCount() - (EndsAtLineStart() ? 1 : 0);
}

TTextPos THistoryText::End() const {
  const std::size_t last = LineCount() - 1;
  return TTextPos{last, Line(last).size()};
}

std::size_t THistoryText::Length(std::size_t break_size) const {
  return bytes_ + break_size * (LineCount() - 1);
}

void THistoryText::ForEachLine(std::size_t from, std::size_t to,
                               const std::function<void(std::string_view)>& each) const {
  if (from > to) return;
  const Found first = Locate(from);
  std::size_t left = to - from + 1;
  for (std::size_t b = first.block; b < blocks_.size() && left > 0; ++b) {
    const Block& block = blocks_[b];
    for (std::size_t index = b == first.block ? first.index : 0;
         index < block.ends.size() && left > 0; ++index, --left) {
      each(LineIn(block, index));
    }
  }
}

std::string THistoryText::Text() const {
  std::string text;
  text.reserve(Length());
  bool first = true;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    for (std::size_t index = LiveFrom(b); index < blocks_[b].ends.size(); ++index) {
      if (!first) text += "\r\n";
      first = false;
      text += LineIn(blocks_[b], index);
    }
  }
  return text;
}

TTextPos THistoryText::Clamp(TTextPos pos) const {
  pos.line = std::min(pos.line, LineCount() - 1);
  pos.col = std::min(pos.col, Line(pos.line).size());
  return pos;
}

// ---- offsets of the text read back ----

// Summed block by block from whichever end of the text is nearer.
std::size_t THistoryText::Offset(TTextPos pos, std::size_t break_size) const {
  pos = Clamp(pos);
  const Found found = Locate(pos.line);
  const Block& here = blocks_[found.block];
  const std::size_t line_start = found.index == 0 ? 0 : here.ends[found.index - 1];
  std::size_t offset = 0;
  if (found.block < blocks_.size() / 2) {
    for (std::size_t b = 0; b < found.block; ++b) {
      offset += LiveBytes(b) + break_size * (blocks_[b].ends.size() - LiveFrom(b));
    }
    const std::size_t from = LiveFrom(found.block);
    offset += line_start - (from == 0 ? 0 : here.ends[from - 1]);
    offset += break_size * (found.index - from);
  } else {
    // From the end: the text's length less the lines from this one on.
    std::size_t after = here.bytes.size() - line_start;
    after += break_size * (here.ends.size() - found.index - 1);
    for (std::size_t b = found.block + 1; b < blocks_.size(); ++b) {
      after += blocks_[b].bytes.size() + break_size * blocks_[b].ends.size();
    }
    offset = Length(break_size) - after;
  }
  return offset + pos.col;
}

TTextPos THistoryText::PosAt(std::size_t offset, std::size_t break_size) const {
  std::size_t block = 0;
  std::size_t line = 0;
  for (; block + 1 < blocks_.size(); ++block) {
    const std::size_t lines = blocks_[block].ends.size() - LiveFrom(block);
    // The block's lines, each with the break after it; an offset between the
    // CR and the LF of the last one belongs to the next block's first line.
    const std::size_t size = LiveBytes(block) + break_size * lines;
    if (offset + std::max<std::size_t>(break_size, 1) - 1 < size) break;
    offset -= std::min(offset, size);
    line += lines;
  }
  const Block& b = blocks_[block];
  for (std::size_t index = LiveFrom(block); index < b.ends.size(); ++index, ++line) {
    const std::size_t size = LineIn(b, index).size();
    if (offset <= size || index + 1 == b.ends.size()) {
      return TTextPos{line, std::min(offset, size)};
    }
    offset -= std::min(offset, size + break_size);
  }
  return End();  // not reached: the last block has a line
}

// ---- editing ----

void THistoryText::CloseBlock(Block& block) {
  block.ends.shrink_to_fit();
  if (block.bytes.capacity() - block.bytes.size() > block.bytes.size() / 8) {
    block.bytes.shrink_to_fit();
  }
}

void THistoryText::Append(std::string_view bytes, bool new_line) {
  Block* block = &blocks_.back();
  const bool full = block->bytes.size() + bytes.size() > kBlockBytes;
  const std::size_t live = block->ends.size() - LiveFrom(blocks_.size() - 1);
  if (full && (new_line || live > 1)) {
    // The last line goes on in a block of its own, or a new line starts one.
    std::string moved;
    if (!new_line) {
      moved = std::string(LineIn(*block, block->ends.size() - 1));
      block->bytes.resize(block->bytes.size() - moved.size());
      block->ends.pop_back();
    }
    CloseBlock(*block);
    firsts_.push_back(firsts_.back() + block->ends.size());
    Block next;
    next.bytes = std::move(moved);
    if (!new_line) next.ends.push_back(static_cast<std::uint32_t>(next.bytes.size()));
    blocks_.push_back(std::move(next));
    block = &blocks_.back();
  }
  if (block->bytes.capacity() < kBlockBytes) block->bytes.reserve(kBlockBytes);
  block->bytes.append(bytes);
  if (new_line) {
    block->ends.push_back(static_cast<std::uint32_t>(block->bytes.size()));
  } else {
    block->ends.back() = static_cast<std::uint32_t>(block->bytes.size());
  }
  bytes_ += bytes.size();
}

void THistoryText::AppendText(std::string_view bytes) {
  const std::vector<std::string_view> pieces = SplitAtLineBreaks(bytes);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0 || !pieces[i].empty()) Append(pieces[i], /*new_line=*/i > 0);
  }
}

TTextPos THistoryText::Replace(TTextPos from, TTextPos to, std::string_view bytes) {
  const std::string_view last_line = Line(LineCount() - 1);
  if (from == to && to == End() && !(last_line.ends_with('\r') && bytes.starts_with('\n'))) {
    AppendText(bytes);
    return End();
  }
  // The blocks from the one of from to the one of to are built anew: their
  // lines before from, the lines of what from's line keeps before it, the
  // bytes and what to's line keeps after it, their lines after to. Those are
  // split at CR LF as a whole, since a CR before the bytes or after them can
  // make a line break with an LF at the other side.
  const Found first = Locate(from.line);
  const Found last = Locate(to.line);
  const Block& first_block = blocks_[first.block];
  const std::string_view to_line = LineIn(blocks_[last.block], last.index);
  std::string joined(LineIn(first_block, first.index).substr(0, from.col));
  joined.append(bytes);
  const std::size_t bytes_end = joined.size();
  joined.append(to_line.substr(to.col));
  const std::vector<std::string_view> pieces = SplitAtLineBreaks(joined);
  // The place after the bytes (between a CR and an LF: the next line's start).
  TTextPos after{from.line, 0};
  std::size_t start = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::size_t end = start + pieces[i].size();
    if (bytes_end <= end) {
      after = TTextPos{from.line + i, bytes_end - start};
      break;
    }
    if (bytes_end < end + 2) {
      after = TTextPos{from.line + i + 1, 0};
      break;
    }
    start = end + 2;
  }

  std::vector<Block> built(1);
  auto add_line = [&built](std::string_view line) {
    Block* block = &built.back();
    if (!block->ends.empty() && block->bytes.size() + line.size() > kBlockBytes) {
      built.emplace_back();
      block = &built.back();
    }
    block->bytes.append(line);
    block->ends.push_back(static_cast<std::uint32_t>(block->bytes.size()));
  };
  for (std::size_t index = LiveFrom(first.block); index < first.index; ++index) {
    add_line(LineIn(first_block, index));
  }
  for (std::string_view piece : pieces) add_line(piece);
  const Block& last_block = blocks_[last.block];
  for (std::size_t index = last.index + 1; index < last_block.ends.size(); ++index) {
    add_line(LineIn(last_block, index));
  }

  std::size_t old_lines = 0;
  std::size_t old_bytes = 0;
  for (std::size_t b = first.block; b <= last.block; ++b) {
    old_lines += blocks_[b].ends.size() - LiveFrom(b);
    old_bytes += LiveBytes(b);
  }
  std::uint64_t number = firsts_[first.block] + LiveFrom(first.block);
  std::vector<std::uint64_t> numbers;
  std::size_t new_lines = 0;
  for (Block& block : built) {
    numbers.push_back(number);
    number += block.ends.size();
    new_lines += block.ends.size();
    bytes_ += block.bytes.size();
    CloseBlock(block);
  }
  bytes_ -= old_bytes;
  if (first.block == 0) dead_ = 0;
  const auto at = static_cast<std::ptrdiff_t>(first.block);
  const auto gone = static_cast<std::ptrdiff_t>(last.block - first.block + 1);
  blocks_.erase(blocks_.begin() + at, blocks_.begin() + at + gone);
  blocks_.insert(blocks_.begin() + at, std::make_move_iterator(built.begin()),
                 std::make_move_iterator(built.end()));
  firsts_.erase(firsts_.begin() + at, firsts_.begin() + at + gone);
  firsts_.insert(firsts_.begin() + at, numbers.begin(), numbers.end());
  // The lines after keep their numbers relative to the text's start.
  if (new_lines != old_lines) {
    for (auto first_after = firsts_.begin() + at + static_cast<std::ptrdiff_t>(built.size());
         first_after != firsts_.end(); ++first_after) {
      *first_after = *first_after + new_lines - old_lines;
    }
  }
  return after;
}

void THistoryText::Assign(std::string_view bytes) {
  blocks_.clear();
  blocks_.emplace_back();
  blocks_.back().ends.push_back(0);
  firsts_.assign(1, 0);
  dead_ = 0;
  bytes_ = 0;
  AppendText(bytes);
  caret_ = anchor_ = TTextPos{};
  KeepLineLimit();
}

void THistoryText::Select(TTextPos anchor, TTextPos caret) {
  anchor_ = Clamp(anchor);
  caret_ = Clamp(caret);
}

std::pair<TTextPos, TTextPos> THistoryText::Selection() const {
  return std::minmax(anchor_, caret_);
}

void THistoryText::ReplaceSelection(std::string_view bytes) {
  const auto [from, to] = Selection();
  caret_ = anchor_ = Replace(from, to, bytes);
  KeepLineLimit();
}

void THistoryText::AddLine(std::string_view line) {
  const std::size_t zero = line.find('\0');
  const bool at_line_start = EndsAtLineStart();
  if (!at_line_start) Append({}, /*new_line=*/true);
  AppendText(line.substr(0, zero));
  if (at_line_start && zero == std::string_view::npos) Append({}, /*new_line=*/true);
  caret_ = anchor_ = End();
  KeepLineLimit();
}

// ---- the line limit ----

void THistoryText::SetMaxLines(int lines) {
  max_lines_ = std::max(lines, 0);
  KeepLineLimit();
}

void THistoryText::KeepLineLimit() {
  if (max_lines_ <= 0) return;
  const std::size_t lines = CountedLines();
  if (lines <= static_cast<std::size_t>(max_lines_)) return;
  const std::size_t excess = lines - static_cast<std::size_t>(max_lines_);
  std::size_t left = excess;
  while (left > 0) {
    const std::size_t live = blocks_.front().ends.size() - dead_;
    if (live <= left) {
      // Not the last block: fewer lines go than there are.
      bytes_ -= LiveBytes(0);
      left -= live;
      blocks_.pop_front();
      firsts_.pop_front();
      dead_ = 0;
    } else {
      const Block& front = blocks_.front();
      bytes_ -= front.ends[dead_ + left - 1] - (dead_ == 0 ? 0 : front.ends[dead_ - 1]);
      dead_ += left;
      left = 0;
    }
  }
  dropped_ += excess;
  auto shift = [excess](TTextPos& pos) {
    pos = pos.line < excess ? TTextPos{} : TTextPos{pos.line - excess, pos.col};
  };
  shift(caret_);
  shift(anchor_);
}

// ---- words ----

TTextPos THistoryText::WordLeft(TTextPos pos) const {
  pos = Clamp(pos);
  if (pos.col == 0) return pos.line > 0 ? TTextPos{pos.line - 1, Line(pos.line - 1).size()} : pos;
  const std::string_view line = Line(pos.line);
  while (pos.col > 0 && !IsWordChar(line[pos.col - 1])) --pos.col;
  while (pos.col > 0 && IsWordChar(line[pos.col - 1])) --pos.col;
  return pos;
}

TTextPos THistoryText::WordRight(TTextPos pos) const {
  pos = Clamp(pos);
  const std::string_view line = Line(pos.line);
  if (pos.col == line.size()) return pos.line + 1 < LineCount() ? TTextPos{pos.line + 1, 0} : pos;
  while (pos.col < line.size() && IsWordChar(line[pos.col])) ++pos.col;
  while (pos.col < line.size() && !IsWordChar(line[pos.col])) ++pos.col;
  return pos;
}
