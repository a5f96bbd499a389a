// Guards a block in which a front end copies the model into its widgets or windows: while a
// scope is open (the counter is above zero), their change notifications are not user events.
#pragma once

class SyncScope {
 public:
  explicit SyncScope(int& counter) : counter_(counter) { ++counter_; }
  ~SyncScope() { --counter_; }
  SyncScope(const SyncScope&) = delete;
  SyncScope& operator=(const SyncScope&) = delete;

 private:
  int& counter_;
};
