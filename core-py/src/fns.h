// The compute-callback table shared by a registry and its policy views, and
// the bridge that lends it to the core as its FnRegistry.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "computes/registry.h"

namespace varnel::py {

// Name -> Python callable (any object is accepted when stored), guarded by
// a lock. Every call runs on the interpreter's thread, so the lock can only
// be found held by a call further up the same stack: taking it never waits,
// it fails at once instead.
class FnTable {
 public:
  class Lock {
   public:
    explicit Lock(FnTable& table);
    ~Lock() { table_.held_.clear(std::memory_order_release); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    FnTable& table_;
  };

  // Each of these takes the lock for its own duration.
  void set(std::string name, pybind11::object callback);
  void clear();

 private:
  friend class PyFnBridge;
  std::atomic_flag held_ = ATOMIC_FLAG_INIT;
  std::map<std::string, pybind11::object, std::less<>> fns_;
};

using FnTableHandle = std::shared_ptr<FnTable>;

// Holds the table's lock while it lives; calls Python callbacks through it.
class PyFnBridge : public computes::FnRegistry {
 public:
  explicit PyFnBridge(FnTable& table) : table_(table), lock_(table) {}
  computes::FnResult call_sync(std::string_view name, const Json& argument) override;
  computes::FnResult call_async(std::string_view name, const Json& argument) override;

 private:
  FnTable& table_;
  FnTable::Lock lock_;
};

}  // namespace varnel::py
