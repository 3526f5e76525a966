// Static permission decisions on a registered model for a request context.
#include "lib.h"
#include "permission.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

namespace {

// The common prologue: the model is looked up before the context is read.
template <typename F>
auto with_model(PyRegistry& self, pyb::handle model, pyb::handle ctx, F&& decide) {
  SharedAccess guard(self);
  std::string name = arg_str(model, "model");
  const schema::Schema& schema = self.core.get(name);
  auto context = context_arg(ctx);
  return decide(self.core.policy.role_rules, schema, context ? &*context : nullptr);
}

using BoolDecision = bool (*)(const schema::RoleRules&, const schema::Schema&,
                              const permission::Context*);
using SetDecision = std::optional<permission::Names> (*)(const schema::RoleRules&,
                                                         const schema::Schema&,
                                                         const permission::Context*);

}  // namespace

void bind_perm(RegistryClass& cls) {
  const std::pair<const char*, BoolDecision> bools[] = {
      {"can_read($self, model, ctx=None)", permission::can_read_schema},
      {"can_write($self, model, ctx=None)", permission::can_write_schema},
      {"should_inject_owner($self, model, ctx=None)", permission::should_inject_owner_condition},
  };
  for (auto [signature, decide] : bools) {
    def_method(
        cls, signature,
        [decide](PyRegistry& self, pyb::handle model, pyb::handle ctx) {
          return with_model(self, model, ctx, decide);
        },
        arg("model"), arg("ctx") = pyb::none());
  }

  const std::pair<const char*, SetDecision> sets[] = {
      {"readable_fields($self, model, ctx=None)", permission::get_readable_fields},
      {"readable_relations($self, model, ctx=None)", permission::get_readable_relations},
      {"readable_computes($self, model, ctx=None)", permission::get_readable_computes},
      {"writable_fields($self, model, ctx=None)", permission::get_writable_fields},
  };
  for (auto [signature, decide] : sets) {
    def_method(
        cls, signature,
        [decide](PyRegistry& self, pyb::handle model, pyb::handle ctx) {
          return sorted_set(with_model(self, model, ctx, decide));
        },
        arg("model"), arg("ctx") = pyb::none());
  }

  def_method(
      cls, "merge_owner_condition($self, model, ctx=None, condition=None)",
      [](PyRegistry& self, pyb::handle model, pyb::handle ctx, pyb::handle condition) {
        return with_model(self, model, ctx, [&](const auto& rules, const auto& schema, auto* c) {
          auto merged = permission::merge_owner_condition(rules, schema, c, optional_json(condition));
          return merged ? json_to_py(*merged) : pyb::object(pyb::none());
        });
      },
      arg("model"), arg("ctx") = pyb::none(), arg("condition") = pyb::none());

  def_method(
      cls, "filter_writable_data($self, model, ctx=None, data=None)",
      [](PyRegistry& self, pyb::handle model, pyb::handle ctx, pyb::handle data) {
        return with_model(self, model, ctx, [&](const auto& rules, const auto& schema, auto* c) {
          return json_to_py(permission::filter_writable_data(rules, schema, c, py_to_json(data)));
        });
      },
      arg("model"), arg("ctx") = pyb::none(), arg("data") = pyb::none());
}

}  // namespace varnel::py
