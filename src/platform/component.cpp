#include "platform/component.h"

#include <algorithm>
#include <utility>

namespace brn {

namespace {

TApplicationExceptionHandler& applicationExceptionHandler() {
  static TApplicationExceptionHandler handler;
  return handler;
}

void eraseOne(std::vector<TComponent*>& list, TComponent* component) {
  auto found = std::find(list.begin(), list.end(), component);
  if (found != list.end()) list.erase(found);
}

}  // namespace

void DatabaseError(const std::string& message) {
  throw EDatabaseError(message);
}

void Abort() {
  throw EAbort();
}

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
  applicationExceptionHandler() = std::move(handler);
}

void HandleApplicationException(const std::exception& error) {
  if (applicationExceptionHandler()) applicationExceptionHandler()(error);
}

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) {
    designing_ = owner->designing_;
    owner->insertComponent(this);
  }
}

TComponent::~TComponent() {
  destroying_ = true;
  // Subscribers forget this component first; each unsubscribes from the
  // others as it is told, so the list is walked from a copy.
  std::vector<TComponent*> notifies = std::move(freeNotifies_);
  freeNotifies_.clear();
  for (TComponent* other : notifies) {
    eraseOne(other->freeNotifies_, this);
    other->Notification(this, TOperation::opRemove);
  }
  while (!components_.empty()) {
    TComponent* child = components_.back();
    removeComponent(child);
    delete child;
  }
  if (owner_ != nullptr) owner_->removeComponent(this);
}

void TComponent::SetName(const std::string& name) {
  name_ = name;
}

void TComponent::BeginLoad() {
  loading_ = true;
}

void TComponent::EndLoad() {
  loading_ = false;
  Loaded();
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end()) {
    freeNotifies_.push_back(component);
    component->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  eraseOne(freeNotifies_, component);
  eraseOne(component->freeNotifies_, this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && !destroying_) RemoveFreeNotification(component);
}

void TComponent::insertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
  notifyAll(component, TOperation::opInsert);
}

void TComponent::removeComponent(TComponent* component) {
  notifyAll(component, TOperation::opRemove);
  eraseOne(components_, component);
  component->owner_ = nullptr;
}

void TComponent::notifyAll(TComponent* component, TOperation operation) {
  Notification(component, operation);
  // A copy: a handler may create or free components of this owner.
  std::vector<TComponent*> children = components_;
  for (TComponent* child : children) {
    if (child != component) child->Notification(component, operation);
  }
}

}  // namespace brn
