#pragma once

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

namespace net_detail {

// A call kept in place, without an allocation of its own: the engine gathers a turn's calls for
// one queue and sends them in one block, so a fetch's response, body and completion cost the
// queue one allocation made on the engine thread and freed on its own, not one each. A call too
// large for the space is kept as a std::function.
class InlineCall {
 public:
  // Room for the largest call a transfer makes (a completion handler's answer, with its error).
  static constexpr std::size_t kSpace = 192;

  InlineCall() = default;
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, InlineCall>>>
  explicit InlineCall(F&& f) {
    emplace(std::forward<F>(f));
  }
  InlineCall(InlineCall&& other) noexcept { take(other); }
  InlineCall(const InlineCall& other) {
    if (other.ops_) other.ops_->copy(space_, other.space_);
    ops_ = other.ops_;
  }
  InlineCall& operator=(InlineCall&& other) noexcept {
    if (this != &other) {
      reset();
      take(other);
    }
    return *this;
  }
  InlineCall& operator=(const InlineCall&) = delete;
  ~InlineCall() { reset(); }

  // Replaces the call with `f`, built in place.
  template <class F>
  void emplace(F&& f) {
    if constexpr (std::is_same_v<std::decay_t<F>, InlineCall>) {
      *this = InlineCall(std::forward<F>(f));
    } else {
      reset();
      using Stored = std::conditional_t<fits<std::decay_t<F>>(), std::decay_t<F>, std::function<void()>>;
      ::new (static_cast<void*>(space_)) Stored(std::forward<F>(f));
      ops_ = &opsFor<Stored>;
    }
  }
  explicit operator bool() const { return ops_ != nullptr; }
  // The call as a std::function of its own, sized to it; this one is left empty.
  std::function<void()> release() {
    if (!ops_) return {};
    std::function<void()> out = ops_->release(space_);
    ops_ = nullptr;
    return out;
  }
  void operator()() { ops_->call(space_); }
  void reset() {
    if (ops_) ops_->destroy(space_);
    ops_ = nullptr;
  }

 private:
  struct Ops {
    void (*call)(void*);
    void (*move)(void* to, void* from);  // and destroys `from`
    void (*copy)(void* to, const void* from);
    void (*destroy)(void*);
    std::function<void()> (*release)(void*);  // and destroys what it moved from
  };
  template <class F>
  static constexpr bool fits() {
    return sizeof(F) <= kSpace && alignof(F) <= alignof(std::max_align_t) && std::is_nothrow_move_constructible_v<F>;
  }
  template <class F>
  static constexpr Ops opsFor{
      [](void* p) { (*static_cast<F*>(p))(); },
      [](void* to, void* from) {
        ::new (to) F(std::move(*static_cast<F*>(from)));
        static_cast<F*>(from)->~F();
      },
      [](void* to, const void* from) {
        // Only std::function asks for copies, and a block that is sent is moved, never copied.
        if constexpr (std::is_copy_constructible_v<F>) {
          ::new (to) F(*static_cast<const F*>(from));
        } else {
          std::abort();
        }
      },
      [](void* p) { static_cast<F*>(p)->~F(); },
      [](void* p) {
        std::function<void()> out(std::move(*static_cast<F*>(p)));
        static_cast<F*>(p)->~F();
        return out;
      },
  };

  void take(InlineCall& other) noexcept {
    if (other.ops_) other.ops_->move(space_, other.space_);
    ops_ = std::exchange(other.ops_, nullptr);
  }

  alignas(std::max_align_t) unsigned char space_[kSpace];
  const Ops* ops_ = nullptr;
};

}  // namespace net_detail
