#include "framework/core/Classes.h"

#include <algorithm>
#include <cstring>

// ---- TPersistent ----

void TPersistent::Assign(const TPersistent* source) {
  if (source != nullptr) {
    source->AssignTo(this);
    return;
  }
  throw EConvertError(Format("Cannot assign a %s to a %s", "nil", ClassName().c_str()));
}

void TPersistent::AssignTo(TPersistent* destination) const {
  throw EConvertError(
      Format("Cannot assign a %s to a %s", ClassName().c_str(), destination->ClassName().c_str()));
}

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
  if (owner != nullptr) {
    owner->InsertComponent(this);
    loading_ = owner->loading_;
    designing_ = owner->designing_;
  }
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    delete last;  // its destructor removes it from components_
  }
}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}

void TComponent::BeginLoading() {
  loading_ = true;
  for (TComponent* component : components_) component->loading_ = true;
}

void TComponent::EndLoading() {
  loading_ = false;
  Loaded();
  // By index: a notification may create or destroy components.
  for (std::size_t i = 0; i < components_.size(); ++i) {
    TComponent* component = components_[i];
    component->loading_ = false;
    component->Loaded();
  }
}

// ---- TCollectionItem / TCollection ----

TCollectionItem::TCollectionItem(TCollection* collection) {
  if (collection != nullptr) collection->InsertItem(this);
}

TCollectionItem::~TCollectionItem() {
  if (collection_ != nullptr) collection_->RemoveItem(this);
}

int TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  const auto& items = collection_->items_;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

TCollection::TCollection(ItemFactory factory) : factory_(std::move(factory)) {}

TCollection::~TCollection() { Clear(); }

TCollectionItem* TCollection::Add() { return factory_(this); }

void TCollection::Delete(int index) { delete Items(index); }

void TCollection::Clear() {
  while (!items_.empty()) delete items_.back();
}

void TCollection::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TCollection*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  Clear();
  for (int i = 0; i < other->Count(); ++i) Add()->Assign(other->Items(i));
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = next_id_++;
}

void TCollection::RemoveItem(TCollectionItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it != items_.end()) items_.erase(it);
  item->collection_ = nullptr;
}

// ---- TStream ----

std::int64_t TStream::Size() {
  std::int64_t position = Seek(0, TSeekOrigin::Current);
  std::int64_t size = Seek(0, TSeekOrigin::End);
  Seek(position, TSeekOrigin::Beginning);
  return size;
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr std::int64_t kChunk = 64 * 1024;
  std::vector<char> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  std::int64_t remaining = count;
  while (remaining > 0) {
    std::int64_t n = std::min(remaining, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    remaining -= n;
  }
  return count;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

// ---- TStringList ----

const std::string& TStringList::Strings(int index) const {
  if (index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return lines_[static_cast<std::size_t>(index)];
}

int TStringList::Add(std::string line) {
  lines_.push_back(std::move(line));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string line) {
  if (index < 0 || index > Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  lines_.insert(lines_.begin() + index, std::move(line));
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  lines_.erase(lines_.begin() + index);
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::Assign(const TPersistent* source) {
  if (const auto* other = dynamic_cast<const TStringList*>(source)) {
    lines_ = other->lines_;
    return;
  }
  TPersistent::Assign(source);
}
