#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace brn {

// A failure of a data-access component, raised with a plain message.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

// A silent abort: it ends the operation without being reported to the user.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

[[noreturn]] void DatabaseError(const std::string& message);
[[noreturn]] void Abort();

// Where an application sends an exception it cannot raise further (a
// component that fails while the designer loads it). Unset, the exception
// is dropped. Set once at start-up, before components exist.
using TApplicationExceptionHandler = std::function<void(const std::exception&)>;
void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);
void HandleApplicationException(const std::exception& error);

enum class TOperation : uint8_t { opInsert, opRemove };

// The base of every component: it belongs to an owner, which frees it, and
// owns the components created with it as owner.
//
// Ownership: the owner frees its children (last first) when it is freed; a
// child freed earlier leaves its owner's list. A component told of another's
// freeing through FreeNotification must not use it afterwards.
//
// Threads: one thread (the application's) creates, names, loads and frees
// components; nothing here is guarded.
class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  // Tells the subscribers of FreeNotification, frees every owned component,
  // then leaves the owner.
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* GetOwner() const { return owner_; }
  int32_t GetComponentCount() const { return int32_t(components_.size()); }
  TComponent* GetComponent(int32_t index) const { return components_.at(size_t(index)); }

  const std::string& GetName() const { return name_; }
  // The rename hook: overrides may refuse the name (by raising) or react to
  // it; the base stores it.
  virtual void SetName(const std::string& name);

  // Loading bracket: between BeginLoad and EndLoad the component is loading
  // (property setters may only record what they are given); EndLoad clears
  // the flag and calls Loaded.
  void BeginLoad();
  void EndLoad();
  bool IsLoading() const { return loading_; }
  // Design mode: the component is being edited rather than run. Owned
  // components created afterwards inherit the flag.
  void SetDesigning(bool value) { designing_ = value; }
  bool IsDesigning() const { return designing_; }

  // Asks to be told (Notification with opRemove) when component is freed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

 protected:
  // Called after EndLoad cleared the loading flag.
  virtual void Loaded() {}
  // A component was inserted into or removed from the owner of this one
  // (every sibling is told, and the owner), or a component this one asked
  // about is being freed.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  void insertComponent(TComponent* component);
  void removeComponent(TComponent* component);
  void notifyAll(TComponent* component, TOperation operation);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  std::string name_;
  bool loading_ = false;
  bool designing_ = false;
  bool destroying_ = false;
};

}  // namespace brn
