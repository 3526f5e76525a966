#include "schema/registry.h"

#include "error.h"

namespace varnel::schema {

namespace {

constexpr std::string_view kProfileTexts[] = {"standard", "text2query"};
constexpr std::string_view kUnconfiguredTexts[] = {"open", "closed"};
constexpr std::string_view kWriteLinkTexts[] = {"reject", "primaryOnly"};

template <typename E, std::size_t N>
bool lookup(const std::string_view (&texts)[N], std::string_view text, E& out) {
  for (std::size_t i = 0; i < N; ++i) {
    if (texts[i] == text) {
      out = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

}  // namespace

Profile profile_from_str_or_err(std::string_view text) {
  Profile p{};
  if (!lookup(kProfileTexts, text, p)) fail("未知 profile: {}（仅 standard / text2query）", {text});
  return p;
}

UnconfiguredPolicy unconfigured_policy_from_str_or_err(std::string_view text) {
  UnconfiguredPolicy p{};
  if (!lookup(kUnconfiguredTexts, text, p)) {
    fail("未知 unconfigured_policy: {}（仅 open / closed）", {text});
  }
  return p;
}

std::string_view profile_text(Profile p) { return kProfileTexts[static_cast<std::size_t>(p)]; }
std::string_view unconfigured_policy_text(UnconfiguredPolicy p) {
  return kUnconfiguredTexts[static_cast<std::size_t>(p)];
}
std::string_view write_link_policy_text(WriteLinkPolicy p) {
  return kWriteLinkTexts[static_cast<std::size_t>(p)];
}

std::string view_readonly_message() {
  return format("{} 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）",
                {"ERR_POLICY_VIEW_READONLY:"});
}

Registry::Registry() : catalog_(std::make_shared<Catalog>()) {}

Registry Registry::make_view() const {
  Registry view = *this;
  view.is_base_ = false;
  return view;
}

bool Registry::has(std::string_view name) const { return catalog_->entries.contains(name); }

const Entry& Registry::get_entry(std::string_view name) const {
  auto it = catalog_->entries.find(name);
  if (it == catalog_->entries.end()) fail("Schema 未注册: {}", {name});
  return it->second;
}

void Registry::check_base() const {
  if (!is_base_) throw CoreError(view_readonly_message());
}

Catalog& Registry::catalog_for_change() {
  check_base();
  if (catalog_.use_count() > 1) catalog_ = std::make_shared<Catalog>(*catalog_);
  return *catalog_;
}

void Registry::replace_catalog(Catalog catalog) {
  check_base();
  catalog_ = std::make_shared<Catalog>(std::move(catalog));
}

void Registry::clear() {
  check_base();
  if (catalog_.use_count() > 1) {
    catalog_ = std::make_shared<Catalog>();
    return;
  }
  catalog_->names.clear();
  catalog_->entries.clear();
}

}  // namespace varnel::schema
