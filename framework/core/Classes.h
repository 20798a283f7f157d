// Components, collections, streams and string lists: the framework building
// blocks on which windows and the transport are built.
//
// None of these classes is thread-safe on its own; each owner states which
// thread uses an object and which lock guards it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "framework/core/Object.h"
#include "framework/core/SysUtils.h"

// An object that can take over the state of another one.
class TPersistent : public TObject {
 public:
  // Copies source into this object. The base version lets the source try
  // (AssignTo) and otherwise raises EConvertError "Cannot assign a %s to a %s".
  virtual void Assign(const TPersistent* source);

 protected:
  virtual void AssignTo(TPersistent* destination) const;
};

// A component has at most one owner, which destroys it. Destroying a component
// destroys what it owns first, the last created first.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }

  // The loading state: set while a window's resource is read. Properties whose
  // effect must wait for the whole resource (an endpoint's Active) look at it.
  bool IsLoading() const { return loading_; }
  bool IsDesigning() const { return designing_; }
  void SetDesigning(bool designing) { designing_ = designing; }

  // Starts reading a resource into this component and the ones it owns.
  void BeginLoading();
  // Ends reading: clears the loading state of this component and of every
  // component it owns, then sends the end-of-loading notification (Loaded) to
  // this component and then to each owned component, in creation order.
  void EndLoading();

  // Destroys every owned component, the last created first.
  void DestroyComponents();

 protected:
  // The end-of-loading notification.
  virtual void Loaded() {}

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
  bool loading_ = false;
  bool designing_ = false;
};

class TCollection;

// An item of a TCollection. Constructing one with a collection adds it there;
// destroying it removes it.
class TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return collection_; }
  int ID() const { return id_; }
  int Index() const;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

// An ordered collection that owns its items.
class TCollection : public TPersistent {
 public:
  using ItemFactory = std::function<TCollectionItem*(TCollection*)>;

  explicit TCollection(ItemFactory factory);
  ~TCollection() override;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  // Creates a new item at the end through the item factory.
  TCollectionItem* Add();
  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  void Delete(int index);
  void Clear();

  // Empties this collection and refills it with copies (Assign) of the items of
  // another collection.
  void Assign(const TPersistent* source) override;

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);

  ItemFactory factory_;
  std::vector<TCollectionItem*> items_;
  int next_id_ = 0;
};

// A collection that belongs to a component.
class TOwnedCollection : public TCollection {
 public:
  TOwnedCollection(TPersistent* owner, ItemFactory factory)
      : TCollection(std::move(factory)), owner_(owner) {}
  TPersistent* Owner() const { return owner_; }

 private:
  TPersistent* owner_;
};

enum class TSeekOrigin { Beginning, Current, End };

// A sequence of bytes with a size and a position.
class TStream : public TObject {
 public:
  // Reads up to count bytes at the position; returns how many were read.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes count bytes at the position; returns how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Size();
  std::int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::Beginning); }

  // Copies count bytes from source's position into this stream. A count of 0
  // copies the whole source from its start. Returns the number copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // Reads or writes exactly count bytes, or raises EReadError/EWriteError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A stream over a growable byte container held in memory (std::vector<char>
// or std::string); the two memory streams below differ only in the container.
template <typename Bytes>
class TBytesStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t size = static_cast<std::int64_t>(data_.size());
    if (count <= 0 || position_ >= size) return 0;
    const std::int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count <= 0) return 0;
    const std::int64_t end = position_ + count;
    if (end > static_cast<std::int64_t>(data_.size())) data_.resize(static_cast<std::size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    switch (origin) {
      case TSeekOrigin::Beginning: position_ = offset; break;
      case TSeekOrigin::Current: position_ += offset; break;
      case TSeekOrigin::End: position_ = static_cast<std::int64_t>(data_.size()) + offset; break;
    }
    if (position_ < 0) position_ = 0;
    return position_;
  }
  // Sets the size; the memory can then take that many bytes. The position is
  // kept unless it lies beyond the new end.
  void SetSize(std::int64_t size) override {
    data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
    if (position_ > size) position_ = std::max<std::int64_t>(size, 0);
  }

 protected:
  TBytesStream() = default;
  explicit TBytesStream(Bytes data) : data_(std::move(data)) {}

  Bytes data_;
  std::int64_t position_ = 0;
};

// A stream held in memory, whose bytes can be written in place.
class TMemoryStream : public TBytesStream<std::vector<char>> {
 public:
  char* Memory() { return data_.data(); }
  const char* Memory() const { return data_.data(); }
};

// A stream over an 8-bit string.
class TStringStream : public TBytesStream<std::string> {
 public:
  explicit TStringStream(std::string text = std::string()) : TBytesStream(std::move(text)) {}
  const std::string& DataString() const { return data_; }
};

// An ordered list of 8-bit strings.
class TStringList : public TPersistent {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& Strings(int index) const;
  const std::string& operator[](int index) const { return Strings(index); }
  int Add(std::string line);
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }
  // The lines, each followed by CR LF.
  std::string Text() const;
  void Assign(const TPersistent* source) override;

 private:
  std::vector<std::string> lines_;
};
