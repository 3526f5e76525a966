// Module initialisation and the Registry class with its catalog and policy
// methods; the other method families bind themselves from methods/.
#include "lib.h"
#include "rbac.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

SharedAccess::SharedAccess(PyRegistry& r) : r_(r) {
  if (r_.borrow < 0) throw std::runtime_error("Registry already mutably borrowed by a call in progress");
  ++r_.borrow;
}

ExclusiveAccess::ExclusiveAccess(PyRegistry& r) : r_(r) {
  if (r_.borrow != 0) throw std::runtime_error("Registry already borrowed by a call in progress");
  r_.borrow = -1;
}

namespace {

void bind_registry(RegistryClass& cls) {
  cls.def(pyb::init<>());

  def_method(
      cls, "has($self, name)",
      [](PyRegistry& self, pyb::handle name) {
        SharedAccess guard(self);
        return self.core.has(arg_str(name, "name"));
      },
      arg("name"));

  def_method(cls, "list($self)", [](PyRegistry& self) {
    SharedAccess guard(self);
    pyb::list out;
    for (const auto& n : self.core.list()) out.append(pyb::str(n));
    return out;
  });

  def_method(cls, "clear_schemas($self)", [](PyRegistry& self) {
    ExclusiveAccess guard(self);
    if (!self.core.is_base()) throw_fatal(schema::view_readonly_message());
    self.core.clear();
  });

  def_method(
      cls, "set_require_context($self, require)",
      [](PyRegistry& self, pyb::handle require) {
        ExclusiveAccess guard(self);
        bool value = arg_bool(require, "require");
        self.core.require_context = value;
      },
      arg("require"));

  def_method(cls, "require_context($self)", [](PyRegistry& self) {
    SharedAccess guard(self);
    return self.core.require_context;
  });

  def_method(
      cls, "set_profile($self, profile)",
      [](PyRegistry& self, pyb::handle profile) {
        ExclusiveAccess guard(self);
        std::string text = arg_str(profile, "profile");
        try {
          self.core.profile = schema::profile_from_str_or_err(text);
        } catch (const CoreError& e) {
          throw pyb::value_error(e.message());
        }
      },
      arg("profile"));

  def_method(cls, "profile($self)", [](PyRegistry& self) {
    SharedAccess guard(self);
    return std::string(schema::profile_text(self.core.profile));
  });

  def_method(
      cls, "set_exempt_roles($self, roles)",
      [](PyRegistry& self, pyb::handle roles) {
        ExclusiveAccess guard(self);
        auto list = arg_str_seq(roles, "roles");
        self.core.policy.role_rules.exempt_roles = std::move(list);
      },
      arg("roles"));

  def_method(
      cls, "set_deny_write_roles($self, roles)",
      [](PyRegistry& self, pyb::handle roles) {
        ExclusiveAccess guard(self);
        auto list = arg_str_seq(roles, "roles");
        self.core.policy.role_rules.deny_write_roles = std::move(list);
      },
      arg("roles"));

  def_method(
      cls, "set_unconfigured_policy($self, policy)",
      [](PyRegistry& self, pyb::handle policy) {
        ExclusiveAccess guard(self);
        std::string text = arg_str(policy, "policy");
        self.core.policy.role_rules.unconfigured_policy =
            schema::unconfigured_policy_from_str_or_err(text);
      },
      arg("policy"));

  def_method(
      cls, "set_meta_policy($self, closed, roles)",
      [](PyRegistry& self, pyb::handle closed, pyb::handle roles) {
        ExclusiveAccess guard(self);
        bool is_closed = arg_bool(closed, "closed");
        auto list = arg_str_seq(roles, "roles");
        self.core.policy.meta = schema::MetaPolicy{is_closed, std::move(list)};
      },
      arg("closed"), arg("roles"));

  def_method(
      cls, "set_rbac($self, policy)",
      [](PyRegistry& self, pyb::handle policy) {
        ExclusiveAccess guard(self);
        auto value = optional_json(policy);
        // Parsed before the old policy is dropped, so a failure keeps it.
        self.core.policy.rbac =
            value ? std::make_shared<const rbac::RbacPolicy>(rbac::RbacPolicy::from_json(*value))
                  : nullptr;
      },
      arg("policy"));

  def_method(cls, "rbac_enabled($self)", [](PyRegistry& self) {
    SharedAccess guard(self);
    return self.core.policy.rbac != nullptr;
  });

  // A new Registry object sharing this one's catalog snapshot and callback table.
  def_method(
      cls, "with_policy($self, policy)",
      [](PyRegistry& self, pyb::handle policy) {
        SharedAccess guard(self);
        auto overrides = rbac::PolicyOverrides::from_value(py_to_json(policy));
        return PyRegistry{rbac::with_policy(self.core, overrides), self.fns};
      },
      arg("policy"));
}

}  // namespace

}  // namespace varnel::py

PYBIND11_MODULE(varnel_py, m) {
  namespace vp = varnel::py;
  m.doc() = "varnel: the planning core of a document-oriented data store";

  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const varnel::CoreError& e) {
      vp::set_core_error(e);
    }
  });

  vp::RegistryClass cls(m, "Registry");
  vp::bind_registry(cls);
  vp::bind_compute(cls);
  vp::bind_datasource(cls);
  vp::bind_load(cls);
  vp::bind_local(cls);
  vp::bind_perm(cls);

  vp::def_method(m, "system_context()", [] {
    pybind11::dict d;
    d["internal"] = true;
    return d;
  });
  vp::bind_naming(m);
  vp::bind_resource(m);
  vp::init_fatal_error(m);
}
