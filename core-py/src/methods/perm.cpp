// Permission decisions on a registered model for a request context: the
// static rules, and the RBAC policy on top of them.
#include "lib.h"
#include "permission.h"
#include "rbac.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

namespace {

// The model is looked up before the context is read. The caller holds the
// access guard.
template <typename F>
auto on_model(PyRegistry& self, pyb::handle model, pyb::handle ctx, F&& decide) {
  std::string name = arg_str(model, "model");
  const schema::Schema& schema = self.core.get(name);
  auto context = context_arg(ctx);
  return decide(self.core, schema, context ? &*context : nullptr);
}

template <typename F>
auto with_model(PyRegistry& self, pyb::handle model, pyb::handle ctx, F&& decide) {
  SharedAccess guard(self);
  return on_model(self, model, ctx, std::forward<F>(decide));
}

using BoolDecision = bool (*)(const schema::RoleRules&, const schema::Schema&,
                              const permission::Context*);
using SetDecision = std::optional<permission::Names> (*)(const schema::RoleRules&,
                                                         const schema::Schema&,
                                                         const permission::Context*);

// A static decision under the registry's role rules.
template <typename Decision>
auto static_rules(Decision decide) {
  return [decide](const schema::Registry& r, const schema::Schema& s,
                  const permission::Context* c) { return decide(r.policy.role_rules, s, c); };
}

using Overlay = std::optional<permission::Names> (*)(const schema::Registry&, std::string_view,
                                                     const permission::Context*,
                                                     std::optional<permission::Names>);

// The actions a row condition can be asked for.
rbac::Action row_action(const std::string& text) {
  for (rbac::Action a : {rbac::Action::Read, rbac::Action::Update, rbac::Action::Remove}) {
    if (rbac::action_text(a) == text) return a;
  }
  throw pyb::value_error(
      format("RBAC row_condition 的 action \"{}\" 非法（仅支持 read / update / remove）", {text}));
}

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
          return with_model(self, model, ctx, static_rules(decide));
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
          return sorted_set(with_model(self, model, ctx, static_rules(decide)));
        },
        arg("model"), arg("ctx") = pyb::none());
  }

  def_method(
      cls, "merge_owner_condition($self, model, ctx=None, condition=None)",
      [](PyRegistry& self, pyb::handle model, pyb::handle ctx, pyb::handle condition) {
        return with_model(self, model, ctx, [&](const auto& reg, const auto& schema, auto* c) {
          auto merged = permission::merge_owner_condition(reg.policy.role_rules, schema, c,
                                                          optional_json(condition));
          return merged ? json_to_py(*merged) : pyb::object(pyb::none());
        });
      },
      arg("model"), arg("ctx") = pyb::none(), arg("condition") = pyb::none());

  def_method(
      cls, "filter_writable_data($self, model, ctx=None, data=None)",
      [](PyRegistry& self, pyb::handle model, pyb::handle ctx, pyb::handle data) {
        return with_model(self, model, ctx, [&](const auto& reg, const auto& schema, auto* c) {
          return json_to_py(
              permission::filter_writable_data(reg.policy.role_rules, schema, c, py_to_json(data)));
        });
      },
      arg("model"), arg("ctx") = pyb::none(), arg("data") = pyb::none());

  def_method(
      cls, "rbac_can($self, model, action, ctx=None)",
      [](PyRegistry& self, pyb::handle model, pyb::handle action, pyb::handle ctx) {
        return with_model(self, model, ctx, [&](const auto& reg, const auto& schema, auto* c) {
          std::string text = arg_str(action, "action");
          std::optional<rbac::WriteAction> write;
          if (text != "read") write = rbac::write_action_from_str(text);
          try {
            if (write) {
              rbac::ensure_write(reg, schema, c, *write);
            } else {
              rbac::ensure_read(reg, schema, c);
            }
          } catch (const CoreError&) {
            return false;  // a refusal, not an error
          }
          return true;
        });
      },
      arg("model"), arg("action"), arg("ctx") = pyb::none());

  const std::tuple<const char*, SetDecision, Overlay> overlays[] = {
      {"rbac_readable_fields($self, model, ctx=None)", permission::get_readable_fields,
       rbac::overlay_readable_fields},
      {"rbac_writable_fields($self, model, ctx=None)", permission::get_writable_fields,
       rbac::overlay_writable_fields},
  };
  for (auto [signature, decide, narrow] : overlays) {
    def_method(
        cls, signature,
        [decide, narrow](PyRegistry& self, pyb::handle model, pyb::handle ctx) {
          return sorted_set(
              with_model(self, model, ctx, [&](const auto& reg, const auto& schema, auto* c) {
                return narrow(reg, schema.name, c, decide(reg.policy.role_rules, schema, c));
              }));
        },
        arg("model"), arg("ctx") = pyb::none());
  }

  def_method(
      cls, "rbac_row_condition($self, model, action, ctx=None)",
      [](PyRegistry& self, pyb::handle model, pyb::handle action, pyb::handle ctx) {
        SharedAccess guard(self);
        rbac::Action checked = row_action(arg_str(action, "action"));
        return on_model(self, model, ctx, [&](const auto& reg, const auto& schema, auto* c) {
          auto condition = rbac::row_condition(reg, schema, c, checked);
          return condition ? json_to_py(*condition) : pyb::object(pyb::none());
        });
      },
      arg("model"), arg("action"), arg("ctx") = pyb::none());
}

}  // namespace varnel::py
