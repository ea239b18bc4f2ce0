#pragma once
// A callback bound to one object and one of its member functions, copied
// cheaply: copies share one functor through a shared count. The template
// takes a result type and up to five argument types; absent ones are void:
//   delegate<long, void*, unsigned int, void, void, void> on_block;
//   on_block.bind(this, &CJob::OnBlock);
//   on_block(data, size);
// An unbound delegate returns a value-initialised result and does nothing.
// The shared count is atomic: copies of one delegate may be made and dropped
// on different threads (the movie sinks call theirs on streaming threads).

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace delegate_class_namespace {

template <typename... T>
struct type_list {};

// Drops the trailing void placeholders from the argument list.
template <typename List, typename... Rest>
struct strip_void;
template <typename... Done>
struct strip_void<type_list<Done...>> {
    using type = type_list<Done...>;
};
template <typename... Done, typename Head, typename... Tail>
struct strip_void<type_list<Done...>, Head, Tail...> {
    using type = std::conditional_t<std::is_void_v<Head>, type_list<Done...>,
                                    typename strip_void<type_list<Done..., Head>, Tail...>::type>;
};

// Common base of every functor: the shared count lives beside it.
struct functor_base {
    virtual ~functor_base() = default;
};

template <typename R, typename... Args>
struct functor_call : functor_base {
    virtual R call(Args... args) = 0;
};

template <typename T, typename R, typename... Args>
struct member_functor : functor_call<R, Args...> {
    using args_type = type_list<Args...>;
    member_functor(T* object, R (T::*method)(Args...)) : object_(object), method_(method) {}
    R call(Args... args) override { return (object_->*method_)(std::forward<Args>(args)...); }
    T* object_;
    R (T::*method_)(Args...);
};

template <typename R, typename List>
class delegate_impl;

template <typename R, typename... Args>
class delegate_impl<R, type_list<Args...>> {
public:
    using invoker_type = R (*)(functor_base*, Args...);

    delegate_impl() = default;
    delegate_impl(const delegate_impl& other) { share(other); }
    delegate_impl& operator=(const delegate_impl& other) {
        if (this != &other) {
            release();
            share(other);
        }
        return *this;
    }
    virtual ~delegate_impl() { release(); }

    template <typename T>
    void bind(T* object, R (T::*method)(Args...)) {
        release();
        functor_ = new member_functor<T, R, Args...>(object, method);
        count_ = new std::atomic<uint32_t>(1);
        invoker_ = &invoke_bound;
    }

    void unbind() { release(); }

    bool is_bound() const { return invoker_ != &invoke_unbound; }

    R operator()(Args... args) const { return invoker_(functor_, std::forward<Args>(args)...); }

private:
    static R invoke_unbound(functor_base*, Args...) {
        if constexpr (!std::is_void_v<R>) return R{};
    }
    static R invoke_bound(functor_base* functor, Args... args) {
        return static_cast<functor_call<R, Args...>*>(functor)->call(std::forward<Args>(args)...);
    }

    void share(const delegate_impl& other) {
        invoker_ = other.invoker_;
        functor_ = other.functor_;
        count_ = other.count_;
        if (count_) count_->fetch_add(1, std::memory_order_relaxed);
    }
    void release() {
        if (count_ && count_->fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete functor_;
            delete count_;
        }
        functor_ = nullptr;
        count_ = nullptr;
        invoker_ = &invoke_unbound;
    }

    invoker_type invoker_ = &invoke_unbound;
    functor_base* functor_ = nullptr;
    std::atomic<uint32_t>* count_ = nullptr;
};

}  // namespace delegate_class_namespace

template <typename R, typename A1 = void, typename A2 = void, typename A3 = void, typename A4 = void,
          typename A5 = void>
class delegate
    : public delegate_class_namespace::delegate_impl<
          R, typename delegate_class_namespace::strip_void<delegate_class_namespace::type_list<>, A1, A2, A3,
                                                           A4, A5>::type> {};
