// Decoding a JSON array of shared records with one allocation for all of
// them: each record, with its control block, is carved from a block sized for
// the list, and so are the shared values (numbers) its decoding makes. A
// record or value is still destroyed when its last owner lets go; the block
// goes back to the heap when the last one carved from it does.
#pragma once

#include <orbisgrove/platform/JSONCoding.hpp>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace orbisgrove::detail {

// Room counted by what is carved from it (and by its maker while it carves).
// A request that does not fit goes to the heap on its own.
class RecordBlock {
 public:
  // Room for one shared object of `size` bytes with its control block.
  static constexpr std::size_t roomFor(std::size_t size) noexcept { return roundedUp(size + controlBlockRoom); }

  static RecordBlock* make(std::size_t room) {
    void* const memory = ::operator new(sizeof(RecordBlock) + room);
    return ::new (memory) RecordBlock(room);
  }
  RecordBlock(const RecordBlock&) = delete;
  RecordBlock& operator=(const RecordBlock&) = delete;

  // The block that the list being decoded on this thread carves from; null
  // while none is.
  static RecordBlock*& current() noexcept {
    thread_local RecordBlock* block = nullptr;
    return block;
  }

  void* take(std::size_t size) {
    size = roundedUp(size);
    if (size > room_ - used_) return ::operator new(size);
    void* const at = storage() + used_;
    used_ += size;
    references_.fetch_add(1, std::memory_order_relaxed);
    return at;
  }

  void give(void* at) noexcept {
    const auto* const byte = static_cast<const std::byte*>(at);
    if (std::less<>{}(byte, storage()) || !std::less<>{}(byte, storage() + room_)) {
      ::operator delete(at);
      return;
    }
    release();
  }

  void release() noexcept {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    this->~RecordBlock();
    ::operator delete(static_cast<void*>(this));
  }

 private:
  // What a control block adds to its object: a table pointer, two counts and
  // the allocator. Were it more, the last objects would go to the heap.
  static constexpr std::size_t controlBlockRoom = 4 * sizeof(void*);
  static constexpr std::size_t alignment = alignof(std::max_align_t);

  static constexpr std::size_t roundedUp(std::size_t size) noexcept {
    return (size + alignment - 1) / alignment * alignment;
  }

  explicit RecordBlock(std::size_t room) noexcept : room_(room) {}
  ~RecordBlock() = default;

  [[nodiscard]] std::byte* storage() noexcept { return reinterpret_cast<std::byte*>(this + 1); }
  [[nodiscard]] const std::byte* storage() const noexcept { return reinterpret_cast<const std::byte*>(this + 1); }

  alignas(alignment) std::atomic<std::size_t> references_{1};
  std::size_t room_;
  std::size_t used_ = 0;
};
static_assert(sizeof(RecordBlock) % alignof(std::max_align_t) == 0);

// Hands a record block's room to std::allocate_shared.
template <class T>
struct RecordBlockAllocator {
  using value_type = T;

  explicit RecordBlockAllocator(RecordBlock* from) noexcept : block(from) {}
  template <class U>
  explicit RecordBlockAllocator(const RecordBlockAllocator<U>& other) noexcept : block(other.block) {}

  [[nodiscard]] T* allocate(std::size_t count) {
    static_assert(alignof(T) <= alignof(std::max_align_t));
    return static_cast<T*>(block->take(count * sizeof(T)));
  }
  void deallocate(T* at, std::size_t /*count*/) noexcept { block->give(at); }

  template <class U>
  bool operator==(const RecordBlockAllocator<U>& other) const noexcept {
    return block == other.block;
  }

  RecordBlock* block;
};

// A shared `T`, carved from the block of the list being decoded on this
// thread, or made on the heap when no list is.
template <class T, class... Arguments>
std::shared_ptr<T> makeShared(Arguments&&... arguments) {
  if (RecordBlock* const block = RecordBlock::current()) {
    return std::allocate_shared<T>(RecordBlockAllocator<std::remove_const_t<T>>(block),
                                   std::forward<Arguments>(arguments)...);
  }
  return std::make_shared<T>(std::forward<Arguments>(arguments)...);
}

// The array member `key` as shared records, as decodeIfPresent would give it:
// nothing when the key is missing or null; throws for the first element that
// does not decode. `valueRoom` is the room (RecordBlock::roomFor) of the
// shared values one record makes through makeShared.
template <class Record>
std::optional<std::vector<std::shared_ptr<Record>>> decodeSharedRecordsIfPresent(
    const platform::KeyedDecodingContainer& container, std::string_view key, std::size_t valueRoom) {
  const std::optional<platform::Decoder> member = container.decoderIfPresent(key);
  if (!member) return std::nullopt;
  const platform::UnkeyedDecodingContainer elements = member->unkeyedContainer();
  const std::size_t count = elements.count();
  std::optional<std::vector<std::shared_ptr<Record>>> records(std::in_place);
  records->reserve(count);
  // The block lives on while anything carved from it does.
  const std::unique_ptr<RecordBlock, decltype([](RecordBlock* block) { block->release(); })> block(
      RecordBlock::make(count * (RecordBlock::roomFor(sizeof(Record)) + valueRoom)));
  const struct Carving {
    explicit Carving(RecordBlock* block) noexcept : outer(std::exchange(RecordBlock::current(), block)) {}
    Carving(const Carving&) = delete;
    Carving& operator=(const Carving&) = delete;
    ~Carving() { RecordBlock::current() = outer; }
    RecordBlock* outer;
  } carving(block.get());
  const RecordBlockAllocator<Record> allocator(block.get());
  for (std::size_t i = 0; i < count; ++i)
    records->push_back(std::allocate_shared<Record>(allocator, elements.decoder(i)));
  return records;
}

}  // namespace orbisgrove::detail
